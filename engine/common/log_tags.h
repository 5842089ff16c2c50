// Public engine surface: log levels, log categories and their tag table.
//
// A log record carries a level and one of 35 categories. Each category has
// a 14-character tag (the bracketed name padded with spaces) that appears in
// every log line of that category; each level has a 12-character tag whose
// only use is its `enabled` flag (the line shows the level as a digit).
#pragma once

#include <cstddef>
#include <cstdint>

namespace Core_Common {

enum class log_level_t : std::int32_t {
    NORMAL = 0,
    DEBUG = 1,
    WARNING = 2,
    ERROR = 3,
};

enum class log_category_t : std::int32_t {
    CORE = 0,
    GUI = 1,
    SOCKET_TCP = 2,
    SOCKET_UDP = 3,
    SOCKET_ARP = 4,
    WIRE = 5,
    WIRE_PROXY = 6,
    UDP2TCP = 7,
    HTTP_CLIENT = 8,
    HTTP_SERVER = 9,
    P2SP_UDP = 10,
    FTP_CLIENT = 11,
    MULTI_DL = 12,
    QXSP_CLIENT = 13,
    QXSP_SERVER = 14,
    P2SP_CLIENT = 15,
    P2SP_SERVER = 16,
    BT_TRACKER = 17,
    BT_TASK = 18,
    BT_MESSAGE = 19,
    BT_PEERS = 20,
    QX_STREAM = 21,
    DHT = 22,
    UPNP = 23,
    AUTO_UPDATE = 24,
    TCP_PATCH = 25,
    MEDIA_PLAY = 26,
    IPC = 27,
    LUA = 28,
    SERVICE = 29,
    EMULE = 30,
    QX_IP = 31,
    QX_INFO = 32,
    TASK_MANAGE = 33,
    SOFT_UPDATE = 34,
};

// One row of the tag table.
struct log_tag_t {
    const char* tag;
    std::int32_t enabled;
};

inline constexpr std::size_t log_category_count = 35;
inline constexpr std::size_t log_level_count = 4;
inline constexpr std::size_t log_tag_row_count = log_category_count + log_level_count;
inline constexpr std::size_t log_category_tag_length = 14;
inline constexpr std::size_t log_level_tag_length = 12;

// Rows 0-34: the categories (row = category value); rows 35-38: the levels
// (row = 35 + level value). Every row is enabled; nothing changes a flag, so
// the table is read without locks from any thread.
extern const log_tag_t log_tag_table[log_tag_row_count];

// True when `level` / `category` is one of the values above. log_write
// drops records whose values are out of range instead of reading past the
// table.
constexpr bool is_valid_log_level(log_level_t level) {
    return static_cast<std::int32_t>(level) >= 0 &&
           static_cast<std::size_t>(level) < log_level_count;
}
constexpr bool is_valid_log_category(log_category_t category) {
    return static_cast<std::int32_t>(category) >= 0 &&
           static_cast<std::size_t>(category) < log_category_count;
}

// The table rows of a valid level and category.
inline const log_tag_t& log_level_row(log_level_t level) {
    return log_tag_table[log_category_count + static_cast<std::size_t>(level)];
}
inline const log_tag_t& log_category_row(log_category_t category) {
    return log_tag_table[static_cast<std::size_t>(category)];
}

}  // namespace Core_Common
