// Internal to common/ (used by the gzip codec): the CRC-32 of gzip members.
//
// The same function as zlib's crc32 (the reflected polynomial 0xEDB88320,
// initial and final inversion), computed by carry-less multiplication
// folding on processors that have it and by zlib elsewhere. Inflating is fast
// enough that a table-driven CRC would cost nearly as much as the inflation
// itself.
//
// Thread rule: re-entrant; no shared state after the first call.
#pragma once

#include <cstddef>
#include <cstdint>

namespace Core_Common {

// Continues `crc` (0 to start) over `length` bytes at `data`.
std::uint32_t crc32_update(std::uint32_t crc, const void* data, std::size_t length);

// The zlib path only, for differential tests of the folding path.
std::uint32_t crc32_reference(std::uint32_t crc, const void* data, std::size_t length);

}  // namespace Core_Common
