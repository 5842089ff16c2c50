#include "failure_throttle.h"

#include <gtest/gtest.h>

namespace Core_Server {
namespace {

using namespace std::chrono_literals;
using clock_type = failure_throttle_t::clock_t;

throttle_limits_t limits(std::size_t capacity = 1000) {
    return throttle_limits_t{3, 60s, 10s, capacity};
}

TEST(FailureThrottle, LocksAKeyAfterTooManyFailuresInTheWindow) {
    failure_throttle_t throttle(limits());
    const auto t0 = clock_type::time_point() + 1h;
    throttle.record_failure("k", t0);
    throttle.record_failure("k", t0 + 1s);
    EXPECT_TRUE(throttle.allowed("k", t0 + 2s));
    throttle.record_failure("k", t0 + 2s);
    EXPECT_FALSE(throttle.allowed("k", t0 + 2s));
    EXPECT_FALSE(throttle.allowed("k", t0 + 11s));
    EXPECT_TRUE(throttle.allowed("other", t0 + 2s));
    EXPECT_TRUE(throttle.allowed("k", t0 + 12s));
}

TEST(FailureThrottle, FailuresSpreadBeyondTheWindowDoNotLock) {
    failure_throttle_t throttle(limits());
    const auto t0 = clock_type::time_point() + 1h;
    for (int i = 0; i < 10; ++i) {
        throttle.record_failure("k", t0 + i * 31s);
        EXPECT_TRUE(throttle.allowed("k", t0 + i * 31s)) << i;
    }
}

TEST(FailureThrottle, RepeatedLockoutsDouble) {
    failure_throttle_t throttle(limits());
    auto t = clock_type::time_point() + 1h;
    auto lock_out = [&] {
        for (int i = 0; i < 3; ++i) throttle.record_failure("k", t);
    };
    lock_out();
    EXPECT_FALSE(throttle.allowed("k", t + 9s));
    t += 10s;
    EXPECT_TRUE(throttle.allowed("k", t));
    lock_out();
    EXPECT_FALSE(throttle.allowed("k", t + 19s));
    EXPECT_TRUE(throttle.allowed("k", t + 20s));
    t += 20s;
    // Attempts refused while locked are not counted.
    throttle.record_failure("k", t - 1s);
    lock_out();
    EXPECT_FALSE(throttle.allowed("k", t + 39s));
    EXPECT_TRUE(throttle.allowed("k", t + 40s));
}

TEST(FailureThrottle, StaysBoundedButKeepsLockouts) {
    failure_throttle_t throttle(limits(10));
    const auto t0 = clock_type::time_point() + 1h;
    for (int i = 0; i < 3; ++i) throttle.record_failure("locked", t0);
    // Long unique names, as a guesser sends them, cost a digest each.
    for (int i = 0; i < 100; ++i)
        throttle.record_failure(std::string(100000, 'n') + std::to_string(i), t0 + 1s);
    EXPECT_LE(throttle.size(), 10u);
    EXPECT_FALSE(throttle.allowed("locked", t0 + 2s));
}

}  // namespace
}  // namespace Core_Server
