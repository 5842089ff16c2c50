// Public engine surface: the gzip codec of the local data files and of the
// sync messages.
//
// gzip_compress writes exactly one gzip member with a fixed header:
//   1F 8B 08 00 | 00 00 00 00 | 00 0B | raw deflate (level 6) | CRC-32 | ISIZE
// (CRC-32 of the input and its length modulo 2^32, both little-endian).
// gzip_decompress reads one member from any writer: it skips the optional
// extra field, name, comment and header CRC, inflates the raw deflate stream
// between the header and the last 8 bytes, and checks the CRC and the length.
//
// The inflated size is capped at gzip_inflate_limit (128 MiB): a member that
// would expand beyond it is refused, so outside input cannot exhaust memory.
//
// Thread rule: re-entrant; no shared state.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace Core_Common {

inline constexpr std::size_t gzip_inflate_limit = 134217728;  // 128 MiB

// Replaces `data` by its gzip member and returns true. On failure (the
// compressor could not be set up) returns false with `data` unchanged.
bool gzip_compress(std::string& data);
bool gzip_compress(std::vector<std::uint8_t>& data);

// Replaces `data` by the uncompressed bytes of the member it holds and
// returns true when the header is valid, the deflate stream ends properly
// within the member, and both the CRC-32 and the stored length match.
// On failure returns false, and `data` holds:
//   - nothing, when the header is invalid (not 1F 8B 08, flags of 32 or more,
//     a field running past the end) or fewer than 8 bytes follow it;
//   - the bytes inflated so far, when inflation ran (a corrupt stream, a
//     stream that stops early, a CRC or length mismatch, or the 128 MiB cap).
bool gzip_decompress(std::string& data);
bool gzip_decompress(std::vector<std::uint8_t>& data);
// The same with a tighter cap: a member that states or inflates to more than
// `limit` bytes (at most gzip_inflate_limit) fails with `too_large` set, as
// soon as that shows; `too_large` is cleared otherwise.
bool gzip_decompress(std::string& data, std::size_t limit, bool& too_large);

}  // namespace Core_Common
