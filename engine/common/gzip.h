// Public engine surface: the gzip codec of the local data files and of the
// sync messages.
//
// gzip_compress writes exactly one gzip member with a fixed header:
//   1F 8B 08 00 | 00 00 00 00 | 00 0B | raw deflate (gzip_level) | CRC-32 | ISIZE
// (CRC-32 of the input and its length modulo 2^32, both little-endian).
// gzip_decompress reads one member from any writer: it skips the optional
// extra field, name, comment and header CRC, inflates the raw deflate stream
// between the header and the last 8 bytes, and checks the CRC and the length.
//
// The inflated size is capped, by default at gzip_inflate_limit (128 MiB, the
// most a sync message unpacks to, common/size_limits.h): a member that would
// expand beyond its cap is refused, so outside input cannot exhaust memory.
//
// Thread rule: re-entrant; no shared state (a writer's worker threads are
// its own).
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "common/size_limits.h"

namespace Core_Common {

inline constexpr std::size_t gzip_inflate_limit = max_unpacked_message_bytes;  // 128 MiB

// The deflate level of every member written: the fastest. Documents of a
// hundred megabytes are packed two or three times in one sync; level 1 takes
// about half the time of level 6 for a member about a tenth larger, and any
// reader inflates every level alike.
inline constexpr int gzip_level = 1;

// A gzip member written as its input arrives, in pieces: the bytes
// gzip_compress gives for the pieces put together, without them ever being
// together in memory. Input beyond one megabyte is packed a megabyte at a
// time on worker threads of the writer's own (started then, joined by
// finish or the destructor); the member is the same however the input is
// cut and whoever packs it. Used once, by one thread.
class gzip_writer_t {
public:
    gzip_writer_t();
    ~gzip_writer_t();
    gzip_writer_t(const gzip_writer_t&) = delete;
    gzip_writer_t& operator=(const gzip_writer_t&) = delete;

    // About how many bytes will be added in all: the output gets room for
    // them at once rather than by growing.
    void expect(std::size_t input_bytes);
    // Compresses the next piece. False when the compressor failed (or could
    // not be set up); the writer is then spent.
    bool add(std::string_view bytes);
    // Ends the member and puts it in `member` (replaced). False on failure,
    // `member` unchanged.
    bool finish(std::string& member);
    // The same, with `head` in front of everything added: for a head known
    // only once the rest is packed (a length field). `head` is packed on its
    // own and its deflate blocks put before the others, which any reader
    // inflates as one stream; the member's bytes are not those gzip_compress
    // gives for the whole, but its contents are.
    bool finish_after(std::string_view head, std::string& member);

private:
    struct state_t;
    std::unique_ptr<state_t> m_state;
};
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
//     stream that stops early, a CRC or length mismatch, or the cap).
// `limit` is the cap (gzip_inflate_limit unless given).
bool gzip_decompress(std::string& data, std::size_t limit = gzip_inflate_limit);
bool gzip_decompress(std::vector<std::uint8_t>& data, std::size_t limit = gzip_inflate_limit);
// The same, telling a member too large apart: one that states or inflates to
// more than `limit` bytes (at most gzip_inflate_limit) fails with `too_large`
// set, as soon as that shows; `too_large` is cleared otherwise.
bool gzip_decompress(std::string& data, std::size_t limit, bool& too_large);

// The same for a member whose inflated bytes go to `sink` a piece at a time
// (up to a megabyte each, in order) instead of into memory; `sink` returns
// false to stop, and the result is then false. The result is what
// gzip_decompress gives; when it is false, what the sink saw must not be used.
bool gzip_decompress(std::string_view member, const std::function<bool(std::string_view)>& sink,
                     std::size_t limit = gzip_inflate_limit);
// The same, telling a member too large apart as the in-memory form does: one
// that states or inflates to more than `limit` bytes (at most
// gzip_inflate_limit) fails with `too_large` set, a stated length before
// anything is inflated; `too_large` is cleared otherwise.
bool gzip_decompress(std::string_view member, const std::function<bool(std::string_view)>& sink,
                     std::size_t limit, bool& too_large);

}  // namespace Core_Common
