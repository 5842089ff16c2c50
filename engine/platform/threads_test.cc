#include "platform/threads.h"

#include <gtest/gtest.h>

#include <set>
#include <thread>
#include <vector>

namespace Core_Platform {
namespace {

TEST(ThreadFacts, IdsAreStablePerThreadAndDistinctAcrossThreads) {
    const std::uint32_t mine = current_thread_id();
    EXPECT_EQ(current_thread_id(), mine);
    EXPECT_NE(mine, 0u);

    std::vector<std::uint32_t> ids(4);
    std::vector<std::thread> threads;
    for (int i = 0; i < 4; ++i) threads.emplace_back([&ids, i] { ids[i] = current_thread_id(); });
    for (auto& t : threads) t.join();
    std::set<std::uint32_t> distinct(ids.begin(), ids.end());
    distinct.insert(mine);
    EXPECT_EQ(distinct.size(), 5u);
}

TEST(ThreadFacts, NamesAreCutToWhatTheSystemKeeps) {
    std::string short_name, long_name;
    std::thread([&] {
        set_current_thread_name("SocketUDP");
        short_name = current_thread_name();
        set_current_thread_name("SocketOutgoingWithALongTail");
        long_name = current_thread_name();
    }).join();
    EXPECT_EQ(short_name, "SocketUDP");
    EXPECT_EQ(long_name, "SocketOutgoingW");
}

TEST(ThreadLevels, MapToNiceValues) {
    EXPECT_EQ(nice_for_thread_level(THREAD_LEVEL_ABOVE_NORMAL), -5);
    EXPECT_EQ(nice_for_thread_level(THREAD_LEVEL_NORMAL), 0);
    EXPECT_EQ(nice_for_thread_level(THREAD_LEVEL_BELOW_NORMAL), 5);
    EXPECT_EQ(nice_for_thread_level(THREAD_LEVEL_IDLE), 19);
    EXPECT_EQ(nice_for_thread_level(2), 0);
    EXPECT_EQ(nice_for_thread_level(-2), 0);
}

TEST(ThreadLevels, ApplyToTheCallingThreadOnly) {
    const int process_nice = current_thread_nice();
    int inside = 0;
    bool applied = false;
    std::thread([&] {
        applied = set_current_thread_level(THREAD_LEVEL_IDLE);
        inside = current_thread_nice();
    }).join();
    // Lowering the priority needs no privilege.
    EXPECT_TRUE(applied);
    EXPECT_EQ(inside, 19);
    EXPECT_EQ(current_thread_nice(), process_nice);
}

}  // namespace
}  // namespace Core_Platform
