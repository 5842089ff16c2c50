#include "common/tick_count.h"

#include <gtest/gtest.h>

#include <thread>
#include <vector>

#include "common/test_clock.h"

namespace Core_Common {
namespace {

TEST(TickCount64, FollowsTheSystemTickBetweenWraps) {
    test_clock clock;
    clock.set(1000);
    const std::uint64_t first = tick_count64();
    clock.advance(250);
    EXPECT_EQ(tick_count64() - first, 250u);
    EXPECT_EQ(tick_count64() - first, 250u);
}

TEST(TickCount64, AddsTwoToThe32AtEachWrapAround) {
    test_clock clock;
    clock.set(0xFFFFFF00u);
    const std::uint64_t before = tick_count64();
    EXPECT_EQ(before & 0xFFFFFFFFu, 0xFFFFFF00u);

    clock.set(0x10);  // the 32-bit counter wrapped
    const std::uint64_t after = tick_count64();
    EXPECT_EQ(after - before, 0x110u);

    clock.set(0xFFFFFFFFu);
    const std::uint64_t late = tick_count64();
    clock.set(0);
    EXPECT_EQ(tick_count64() - late, 1u);
    EXPECT_EQ(tick_count64() - before, 0x100000100u);
}

TEST(TickCount64, NeverGoesBackwardsAcrossThreads) {
    std::vector<std::thread> threads;
    std::vector<bool> monotonic(4, true);
    for (int i = 0; i < 4; ++i) {
        threads.emplace_back([&monotonic, i] {
            std::uint64_t previous = tick_count64();
            for (int n = 0; n < 20000; ++n) {
                const std::uint64_t now = tick_count64();
                if (now < previous) monotonic[i] = false;
                previous = now;
            }
        });
    }
    for (auto& t : threads) t.join();
    for (bool ok : monotonic) EXPECT_TRUE(ok);
}

}  // namespace
}  // namespace Core_Common
