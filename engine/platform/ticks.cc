#include "platform/ticks.h"

#include <time.h>

#include <atomic>

namespace Core_Platform {
namespace {

std::atomic<tick_source_fn> g_source{&monotonic_tick_count32};

}  // namespace

std::uint32_t monotonic_tick_count32() {
    timespec ts{};
    ::clock_gettime(CLOCK_MONOTONIC, &ts);
    const std::uint64_t ms = static_cast<std::uint64_t>(ts.tv_sec) * 1000u +
                             static_cast<std::uint64_t>(ts.tv_nsec) / 1000000u;
    return static_cast<std::uint32_t>(ms);
}

std::uint32_t tick_count32() { return g_source.load(std::memory_order_acquire)(); }

tick_source_fn set_tick_source(tick_source_fn source) {
    if (source == nullptr) source = &monotonic_tick_count32;
    return g_source.exchange(source, std::memory_order_acq_rel);
}

}  // namespace Core_Platform
