#include "platform/local_time.h"

#include <gtest/gtest.h>
#include <time.h>

namespace Core_Platform {
namespace {

TEST(LocalTimeOfDay, AgreesWithTheSystemClock) {
    time_of_day_t t;
    t.hour = -1;
    ASSERT_TRUE(local_time_of_day(t));
    EXPECT_GE(t.hour, 0);
    EXPECT_LE(t.hour, 23);
    EXPECT_GE(t.minute, 0);
    EXPECT_LE(t.minute, 59);
    EXPECT_GE(t.second, 0);
    EXPECT_LE(t.second, 60);
    EXPECT_GE(t.microsecond, 0);
    EXPECT_LE(t.microsecond, 999999);

    // Compare with an independent reading in whole seconds of the day,
    // allowing for the moment between the two readings (and midnight).
    time_t now = time(nullptr);
    struct tm local {};
    ASSERT_NE(localtime_r(&now, &local), nullptr);
    const int ours = t.hour * 3600 + t.minute * 60 + t.second;
    const int theirs = local.tm_hour * 3600 + local.tm_min * 60 + local.tm_sec;
    const int diff = (theirs - ours + 86400) % 86400;
    EXPECT_LE(diff, 2);
}

}  // namespace
}  // namespace Core_Platform
