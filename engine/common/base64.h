// Public engine surface: Base64 text of binary data, as the local data file
// carries it inside XML.
//
// Encoding gives one line of the standard alphabet (RFC 4648) with its "="
// fill and no line breaks. Decoding skips every character outside the
// alphabet ("=" , spaces and line breaks included) and decodes the rest; it
// never fails, so malformed text simply yields fewer or different bytes.
//
// Thread rule: re-entrant; callable from any thread.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace Core_Common {

// The Base64 text of `length` bytes; empty for no bytes.
std::string base64_encode(const void* bytes, std::size_t length);
std::string base64_encode(std::string_view bytes);

// The bytes of Base64 `text`.
std::string base64_decode(const char* text, std::size_t length);
std::string base64_decode(std::string_view text);

}  // namespace Core_Common
