#include "common/timestamp_auto.h"

#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "common/test_clock.h"
#include "common/tick_count.h"

namespace Core_Common {
namespace {

TEST(TimestampAuto, ConstructionAndResetTakeTheCurrentTick) {
    test_clock clock;
    timestamp_auto stamp;
    EXPECT_EQ(stamp.m_stamp, tick_count64());
    clock.advance(1234);
    EXPECT_EQ(stamp.elapsed_milliseconds(), 1234);
    EXPECT_EQ(stamp.elapsed_seconds(), 1);
    stamp.reset();
    EXPECT_EQ(stamp.elapsed_milliseconds(), 0);
}

TEST(TimestampAuto, AddingMovesTheStamp) {
    timestamp_auto stamp;
    const std::uint64_t base = stamp.m_stamp;
    stamp.add_seconds(3);
    EXPECT_EQ(stamp.m_stamp, base + 3000);
    stamp.add_milliseconds(-500);
    EXPECT_EQ(stamp.m_stamp, base + 2500);
    stamp.add_seconds(-2);
    EXPECT_EQ(stamp.m_stamp, base + 500);
}

TEST(TimestampAuto, FutureStampsGiveNegativeValuesTruncatedTowardZero) {
    test_clock clock;
    timestamp_auto stamp;
    stamp.add_milliseconds(1500);
    EXPECT_EQ(stamp.elapsed_milliseconds(), -1500);
    EXPECT_EQ(stamp.elapsed_seconds(), -1);  // not -2
    EXPECT_EQ(stamp.elapsed_milliseconds_since(stamp.m_stamp + 2999), 2999);
    EXPECT_EQ(stamp.elapsed_seconds_since(stamp.m_stamp + 2999), 2);
    EXPECT_EQ(stamp.elapsed_seconds_since(stamp.m_stamp - 999), 0);
    EXPECT_EQ(stamp.elapsed_seconds_since(stamp.m_stamp - 1000), -1);
}

TEST(TimestampAuto, MeasuresRealTime) {
    timestamp_auto stamp;
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
    EXPECT_GE(stamp.elapsed_milliseconds(), 29);
    EXPECT_LT(stamp.elapsed_milliseconds(), 5000);
}

}  // namespace
}  // namespace Core_Common
