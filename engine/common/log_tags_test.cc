#include "common/log_tags.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

namespace Core_Common {
namespace {

TEST(LogTagTable, RowsWidthsAndFlags) {
    for (std::size_t row = 0; row < log_tag_row_count; ++row) {
        ASSERT_NE(log_tag_table[row].tag, nullptr) << row;
        EXPECT_EQ(log_tag_table[row].enabled, 1) << row;
        const std::size_t width =
            row < log_category_count ? log_category_tag_length : log_level_tag_length;
        EXPECT_EQ(std::strlen(log_tag_table[row].tag), width) << row;
        EXPECT_EQ(log_tag_table[row].tag[0], '[') << row;
    }
    EXPECT_STREQ(log_category_row(log_category_t::CORE).tag, "[CORE]        ");
    EXPECT_STREQ(log_category_row(log_category_t::WIRE).tag, "[WIRE]        ");
    EXPECT_STREQ(log_category_row(log_category_t::HTTP_CLIENT).tag, "[HTTP_CLIENT] ");
    EXPECT_STREQ(log_category_row(log_category_t::QX_STREAM).tag, "[QX_STREAM]   ");
    EXPECT_STREQ(log_category_row(log_category_t::SOFT_UPDATE).tag, "[SOFT_UPDATE] ");
    EXPECT_STREQ(log_level_row(log_level_t::NORMAL).tag, "[NORMAL]    ");
    EXPECT_STREQ(log_level_row(log_level_t::DEBUG).tag, "[DEBUG]     ");
    EXPECT_STREQ(log_level_row(log_level_t::WARNING).tag, "[WARNING]   ");
    EXPECT_STREQ(log_level_row(log_level_t::ERROR).tag, "[ERROR]     ");
}

TEST(LogTagTable, CategoryNamesMatchTheirTags) {
    const char* names[] = {
        "CORE",        "GUI",         "SOCKET_TCP",  "SOCKET_UDP",  "SOCKET_ARP",  "WIRE",
        "WIRE_PROXY",  "UDP2TCP",     "HTTP_CLIENT", "HTTP_SERVER", "P2SP_UDP",    "FTP_CLIENT",
        "MULTI_DL",    "QXSP_CLIENT", "QXSP_SERVER", "P2SP_CLIENT", "P2SP_SERVER", "BT_TRACKER",
        "BT_TASK",     "BT_MESSAGE",  "BT_PEERS",    "QX_STREAM",   "DHT",         "UPNP",
        "AUTO_UPDATE", "TCP_PATCH",   "MEDIA_PLAY",  "IPC",         "LUA",         "SERVICE",
        "EMULE",       "QX_IP",       "QX_INFO",     "TASK_MANAGE", "SOFT_UPDATE",
    };
    static_assert(sizeof names / sizeof names[0] == log_category_count);
    for (std::size_t row = 0; row < log_category_count; ++row) {
        std::string expected = std::string("[") + names[row] + "]";
        expected.resize(log_category_tag_length, ' ');
        EXPECT_EQ(log_tag_table[row].tag, expected);
    }
}

TEST(LogTagTable, ValidityOfValues) {
    EXPECT_TRUE(is_valid_log_level(log_level_t::ERROR));
    EXPECT_FALSE(is_valid_log_level(static_cast<log_level_t>(4)));
    EXPECT_FALSE(is_valid_log_level(static_cast<log_level_t>(-1)));
    EXPECT_TRUE(is_valid_log_category(log_category_t::SOFT_UPDATE));
    EXPECT_FALSE(is_valid_log_category(static_cast<log_category_t>(35)));
    EXPECT_FALSE(is_valid_log_category(static_cast<log_category_t>(-1)));
}

}  // namespace
}  // namespace Core_Common
