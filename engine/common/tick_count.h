// Public engine surface: the 64-bit millisecond tick, the time base of
// timers, time stamps and the socket layer's clock.
//
// tick_count64() is the system's 32-bit millisecond tick
// (Core_Platform::tick_count32) plus a process-wide offset that grows by 2^32
// each time a reading is smaller than the previous one (a wrap-around of the
// 32-bit counter). The first call takes its reading as the previous one.
// Readings never decrease as long as the function is called at least once
// every 49.7 days.
//
// May be called from any thread; the previous reading and the offset are
// guarded by a process-wide recursive lock.
#pragma once

#include <cstdint>

namespace Core_Common {

std::uint64_t tick_count64();

}  // namespace Core_Common
