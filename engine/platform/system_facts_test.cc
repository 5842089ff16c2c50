#include "platform/system_facts.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

namespace Core_Platform {
namespace {

bool ends_with(const std::string& text, const std::string& end) {
    return text.size() >= end.size() &&
           text.compare(text.size() - end.size(), end.size(), end) == 0;
}

TEST(SystemFacts, DescribeThisProcessAndMachine) {
    host_facts_t facts;
    read_host_facts(facts);
    EXPECT_TRUE(ends_with(facts.exe_path, "/platform_test")) << facts.exe_path;
    EXPECT_STRNE(facts.user_name, "");
    EXPECT_EQ(std::string(facts.os_name).rfind("Linux", 0), 0u) << facts.os_name;
    EXPECT_STRNE(facts.os_version, "");
    EXPECT_GE(facts.processor_count, 1);
#if defined(__x86_64__)
    EXPECT_STREQ(facts.os_name, "Linux 64-bit");
    EXPECT_EQ(facts.processor_type, 8664);
#endif
    ASSERT_GE(facts.process_start_boot_ms, 0);
    const std::int64_t age = boot_clock_ms() - facts.process_start_boot_ms;
    EXPECT_GE(age, 0);
    EXPECT_LT(age, 3600 * 1000);
    EXPECT_GT(facts.address_space_bytes, 0u);
    EXPECT_LE(facts.utc_offset_seconds, 14 * 3600);
    EXPECT_GE(facts.utc_offset_seconds, -12 * 3600);
}

TEST(SystemFacts, MemoryFiguresAreConsistent) {
    memory_status_t m;
    ASSERT_TRUE(read_memory_status(std::uint64_t{1} << 40, m));
    EXPECT_GT(m.total_physical, 0u);
    EXPECT_LE(m.available_physical, m.total_physical);
    EXPECT_LE(m.load_percent, 100u);
    EXPECT_GE(m.total_paging, m.total_physical);
    EXPECT_EQ(m.total_virtual, std::uint64_t{1} << 40);
    EXPECT_LT(m.available_virtual, m.total_virtual);  // this process maps something
}

TEST(SystemFacts, ClocksMove) {
    EXPECT_GT(realtime_seconds(), 1600000000);  // after September 2020
    const std::int64_t a = boot_clock_ms();
    const std::int64_t b = boot_clock_ms();
    EXPECT_GT(a, 0);
    EXPECT_GE(b, a);
}

}  // namespace
}  // namespace Core_Platform
