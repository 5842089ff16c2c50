#include "common/base64.h"

#include <array>
#include <cstdint>

namespace Core_Common {
namespace {

constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
constexpr std::uint8_t kSkip = 0xFF;

// The 6-bit value of each alphabet character; kSkip for every other byte.
constexpr std::array<std::uint8_t, 256> make_values() {
    std::array<std::uint8_t, 256> values{};
    for (auto& v : values) v = kSkip;
    for (std::uint8_t i = 0; i < 64; ++i) values[static_cast<unsigned char>(kAlphabet[i])] = i;
    return values;
}
constexpr std::array<std::uint8_t, 256> kValues = make_values();

}  // namespace

std::string base64_encode(const void* bytes, std::size_t length) {
    std::string out;
    if (length == 0) return out;
    const auto* in = static_cast<const unsigned char*>(bytes);
    out.resize((length + 2) / 3 * 4);
    char* o = out.data();
    std::size_t i = 0;
    for (; i + 3 <= length; i += 3) {
        const std::uint32_t v = static_cast<std::uint32_t>(in[i]) << 16 |
                                static_cast<std::uint32_t>(in[i + 1]) << 8 | in[i + 2];
        *o++ = kAlphabet[v >> 18];
        *o++ = kAlphabet[(v >> 12) & 0x3F];
        *o++ = kAlphabet[(v >> 6) & 0x3F];
        *o++ = kAlphabet[v & 0x3F];
    }
    if (i < length) {
        // One or two bytes left: two or three characters, then "=" fill.
        const bool two = i + 1 < length;
        const std::uint32_t v = static_cast<std::uint32_t>(in[i]) << 16 |
                                (two ? static_cast<std::uint32_t>(in[i + 1]) << 8 : 0);
        *o++ = kAlphabet[v >> 18];
        *o++ = kAlphabet[(v >> 12) & 0x3F];
        *o++ = two ? kAlphabet[(v >> 6) & 0x3F] : '=';
        *o++ = '=';
    }
    return out;
}

std::string base64_encode(std::string_view bytes) {
    return base64_encode(bytes.data(), bytes.size());
}

// Every alphabet character adds six bits; each full byte is kept, and bits
// left over at the end (less than a byte) are dropped.
std::string base64_decode(const char* text, std::size_t length) {
    std::string out;
    if (length == 0) return out;
    out.resize(length / 4 * 3 + 3);
    char* o = out.data();
    std::uint32_t bits = 0;
    int count = 0;
    for (std::size_t i = 0; i < length; ++i) {
        const std::uint8_t v = kValues[static_cast<unsigned char>(text[i])];
        if (v == kSkip) continue;
        bits = bits << 6 | v;
        if (++count == 4) {
            *o++ = static_cast<char>(bits >> 16);
            *o++ = static_cast<char>(bits >> 8);
            *o++ = static_cast<char>(bits);
            bits = 0;
            count = 0;
        }
    }
    if (count >= 2) *o++ = static_cast<char>(bits >> (6 * count - 8));
    if (count == 3) *o++ = static_cast<char>(bits >> 2);
    out.resize(static_cast<std::size_t>(o - out.data()));
    return out;
}

std::string base64_decode(std::string_view text) { return base64_decode(text.data(), text.size()); }

}  // namespace Core_Common
