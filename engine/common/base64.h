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

// The same two conversions for data that comes in pieces (a document of a
// hundred megabytes is never whole in memory): each add() appends to `out`
// what the pieces so far give, finish() the rest; the text (or bytes) put
// together are exactly what the functions above give for the input put
// together. Each object converts one input.
class base64_encoder_t {
public:
    void add(std::string_view bytes, std::string& out);
    void finish(std::string& out);

private:
    unsigned char m_pending[2] = {0, 0};  // bytes not yet making a group of three
    std::size_t m_count = 0;
};

class base64_decoder_t {
public:
    void add(std::string_view text, std::string& out);
    void finish(std::string& out);

private:
    unsigned m_bits = 0;  // the characters of the group begun
    int m_count = 0;
};

}  // namespace Core_Common
