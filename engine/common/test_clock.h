// Test support only (included by *_test.cc files, never by the engine).
//
// test_clock replaces the system's millisecond tick with a counter that only
// moves when a test advances it, for as long as the object lives. It starts
// at the real reading so that stamps taken before stay comparable. One at a
// time per process; the counter itself may be read from any thread.
#pragma once

#include <atomic>
#include <cstdint>

#include "platform/ticks.h"

namespace Core_Common {

class test_clock {
public:
    test_clock() {
        now().store(Core_Platform::monotonic_tick_count32());
        m_previous = Core_Platform::set_tick_source(&read);
    }
    ~test_clock() { Core_Platform::set_tick_source(m_previous); }
    test_clock(const test_clock&) = delete;
    test_clock& operator=(const test_clock&) = delete;

    void advance(std::uint32_t ms) { now().fetch_add(ms); }
    void set(std::uint32_t reading) { now().store(reading); }

private:
    static std::atomic<std::uint32_t>& now() {
        static std::atomic<std::uint32_t> value{0};
        return value;
    }
    static std::uint32_t read() { return now().load(); }

    Core_Platform::tick_source_fn m_previous = nullptr;
};

}  // namespace Core_Common
