// Public engine surface: the system's 32-bit millisecond tick.
//
// tick_count32() reads the current tick source. The default source is the
// monotonic clock of the system in milliseconds, truncated to 32 bits, so it
// wraps around every 2^32 ms (about 49.7 days). Code that needs a 64-bit time
// base uses Core_Common::tick_count64() (common/tick_count.h), which extends
// this reading across wrap-arounds.
//
// The source can be replaced (set_tick_source) so that tests make the clock
// jump or wrap. All functions may be called from any thread.
#pragma once

#include <cstdint>

namespace Core_Platform {

// A tick source: returns milliseconds modulo 2^32. Must be callable from any
// thread at any time while installed.
using tick_source_fn = std::uint32_t (*)();

// The current reading of the installed source.
std::uint32_t tick_count32();

// The system's monotonic clock in milliseconds, truncated to 32 bits; the
// default source.
std::uint32_t monotonic_tick_count32();

// Installs `source` (nullptr restores the monotonic clock) and returns the
// source installed before. Meant for tests; takes effect for every thread.
tick_source_fn set_tick_source(tick_source_fn source);

}  // namespace Core_Platform
