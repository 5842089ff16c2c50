#include "platform/ticks.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

namespace Core_Platform {
namespace {

std::atomic<std::uint32_t> g_fake{0};
std::uint32_t fake_source() { return g_fake.load(); }

TEST(Ticks, MonotonicSourceAdvancesWithRealTime) {
    const std::uint32_t before = tick_count32();
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    const std::uint32_t after = tick_count32();
    // Unsigned difference: correct across a wrap of the 32-bit counter.
    EXPECT_GE(static_cast<std::uint32_t>(after - before), 19u);
    EXPECT_LT(static_cast<std::uint32_t>(after - before), 5000u);
}

TEST(Ticks, InjectedSourceReplacesAndRestores) {
    g_fake = 0xFFFFFFF0u;
    const tick_source_fn previous = set_tick_source(&fake_source);
    EXPECT_EQ(previous, &monotonic_tick_count32);
    EXPECT_EQ(tick_count32(), 0xFFFFFFF0u);
    g_fake = 7;
    EXPECT_EQ(tick_count32(), 7u);

    EXPECT_EQ(set_tick_source(nullptr), &fake_source);
    const std::uint32_t real = monotonic_tick_count32();
    EXPECT_LT(static_cast<std::uint32_t>(tick_count32() - real), 1000u);
}

}  // namespace
}  // namespace Core_Platform
