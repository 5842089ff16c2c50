#include "socket/time_traits.h"

#include <gtest/gtest.h>

#include <chrono>

#include "common/tick_count.h"

namespace Core_Socket {
namespace {

TEST(SocketClock, DurationsBelowAMillisecondAddNothing) {
    const time_t_traits::time_type t = 5000;
    EXPECT_EQ(time_t_traits::add(t, 999), t);
    EXPECT_EQ(time_t_traits::add(t, 1), t);
    EXPECT_EQ(time_t_traits::add(t, 1000), t + 1);
    EXPECT_EQ(time_t_traits::add(t, 1500000), t + 1500);
    EXPECT_EQ(time_t_traits::subtract(t + 3, t), 3000);
    EXPECT_EQ(time_t_traits::subtract(t, t + 3), -3000);
    EXPECT_TRUE(time_t_traits::less_than(t, t + 1));
    EXPECT_FALSE(time_t_traits::less_than(t, t));
    EXPECT_EQ(time_t_traits::to_posix_duration(2500).total_milliseconds(), 2);
}

TEST(SocketClock, NowIsTheTickCount) {
    const auto before = Core_Common::tick_count64();
    const auto now = time_t_traits::now();
    const auto after = Core_Common::tick_count64();
    EXPECT_LE(before, now);
    EXPECT_LE(now, after);
}

TEST(SocketClock, TimersExpireAfterTheirWholeMilliseconds) {
    boost::asio::io_context context;
    socket_timer long_timer(context.get_executor());
    socket_timer short_timer(context.get_executor());
    const auto start = std::chrono::steady_clock::now();
    std::chrono::steady_clock::duration long_after{}, short_after{};
    long_timer.expires_from_now(1500000);
    long_timer.async_wait([&](const boost::system::error_code& ec) {
        EXPECT_FALSE(ec);
        long_after = std::chrono::steady_clock::now() - start;
    });
    short_timer.expires_from_now(999);
    short_timer.async_wait([&](const boost::system::error_code& ec) {
        EXPECT_FALSE(ec);
        short_after = std::chrono::steady_clock::now() - start;
    });
    context.run();
    // The clock counts whole milliseconds, so an expiry can come up to one
    // tick before the wall-clock mark.
    EXPECT_GE(long_after, std::chrono::milliseconds(1499));
    EXPECT_LT(short_after, std::chrono::milliseconds(100));
    EXPECT_LT(short_after, long_after);
}

}  // namespace
}  // namespace Core_Socket
