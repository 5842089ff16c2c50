// Public engine surface: the process's own use of resources, for benchmarks
// and diagnostics.
#pragma once

#include <cstdint>

namespace Core_Platform {

// The largest resident set size the process has had so far, in bytes; 0 when
// the system does not tell. Thread-safe.
std::uint64_t peak_resident_bytes();

}  // namespace Core_Platform
