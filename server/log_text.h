// Internal to the server: text a client chose, made fit for a log line or an
// operator's terminal.
//
// A client picks its user name and client type; the store keeps what it
// sent. Written raw, a long name makes a log line of megabytes, a line end
// forges a log line, and an escape sequence takes over the terminal of the
// operator reading `history`. log_safe() bounds and escapes such text.
//
// Pure and thread-safe.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace Core_Server {

// At most `max_bytes` bytes of `text` (cut at a character boundary, the cut
// marked "...(N bytes)" with N the whole length), with every byte that is no
// part of valid UTF-8, every control character (C0, DEL and C1), the
// characters that reorder text on screen (U+200E, U+200F, U+202A to U+202E,
// U+2066 to U+2069), and, with `quotes`, the quote and the backslash
// escaped as \xHH, \u{HHHH}, \" and \\. Printable UTF-8 stays as it is.
std::string log_safe(std::string_view text, std::size_t max_bytes, bool quotes = true);

// The longest client text a log line or an operator's listing shows.
inline constexpr std::size_t LOG_TEXT_MAX = 256;

}  // namespace Core_Server
