// Internal to the server: the binary envelope around every request and
// reply, seen from the server's side.
//
// Request (all integers unsigned big-endian):
//   0   16  preamble, the ASCII text Core_Common::kSessionPreamble
//   16  2   header_length = 22 + L
//   18  2   version, 1
//   20  4   body_length
//   24  8   sequence
//   32  4   message_code
//   36  2   header_text_length L
//   38  L   header_text
//   38+L    body (body_length bytes)
// Reply: the same header without the preamble and with an empty header text
// (header_length 22), echoing the request's sequence and message code,
// followed by the reply body. One request and one reply per connection.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "common/wire_constants.h"

namespace Core_Server {

// Preamble and the fixed part of the request header.
inline constexpr std::size_t REQUEST_FIXED_SIZE = 38;
inline constexpr std::size_t REPLY_HEADER_SIZE = 22;

struct request_envelope_t {
    std::uint64_t sequence = 0;
    std::uint32_t message_code = 0;
    std::string header_text;
    std::uint32_t body_length = 0;
    // Bytes before the body: REQUEST_FIXED_SIZE + header text.
    std::size_t header_size = 0;
};

enum class envelope_parse_enum {
    NEED_MORE,  // every byte so far fits a request; read on
    INVALID,    // not a request of this protocol: drop the connection
    COMPLETE,   // `out` holds the header; the body follows
};

// Examines the first bytes received on a connection. Decides INVALID as soon
// as a byte contradicts the format (a wrong preamble character, a version
// other than 1, a header_length other than 22 + L), so garbage is dropped
// without waiting for more. `out` is written only on COMPLETE. Never reads
// beyond `data`.
envelope_parse_enum parse_request_header(std::string_view data, request_envelope_t& out);

// The bytes of a reply to `request` carrying `body`.
std::string make_reply(const request_envelope_t& request, std::string_view body);
// The header of that reply alone, for a body of `body_size` bytes sent after
// it (at most 4 GiB - 1).
std::string make_reply_header(const request_envelope_t& request, std::size_t body_size);

// The bytes of a request (used by tests and load generators).
std::string make_request(std::uint64_t sequence, std::uint32_t message_code,
                         std::string_view header_text, std::string_view body);

}  // namespace Core_Server
