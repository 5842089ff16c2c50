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

namespace {

// Decodes whole groups of four alphabet characters from `p` into `o`, both
// advanced, up to the first group that holds any other byte (left for the
// caller's character-at-a-time loop) or fewer than four characters left.
// Encoded text is almost all such groups.
void decode_groups(const unsigned char*& p, const unsigned char* end, char*& o) {
    while (end - p >= 4) {
        const std::uint32_t a = kValues[p[0]];
        const std::uint32_t b = kValues[p[1]];
        const std::uint32_t c = kValues[p[2]];
        const std::uint32_t d = kValues[p[3]];
        if ((a | b | c | d) > 63) return;
        const std::uint32_t bits = a << 18 | b << 12 | c << 6 | d;
        o[0] = static_cast<char>(bits >> 16);
        o[1] = static_cast<char>(bits >> 8);
        o[2] = static_cast<char>(bits);
        o += 3;
        p += 4;
    }
}

}  // namespace

// Every alphabet character adds six bits; each full byte is kept, and bits
// left over at the end (less than a byte) are dropped.
std::string base64_decode(const char* text, std::size_t length) {
    std::string out;
    if (length == 0) return out;
    out.resize(length / 4 * 3 + 3);
    char* o = out.data();
    std::uint32_t bits = 0;
    int count = 0;
    const auto* p = reinterpret_cast<const unsigned char*>(text);
    const unsigned char* const end = p + length;
    while (p != end) {
        if (count == 0) {
            decode_groups(p, end, o);
            if (p == end) break;
        }
        const std::uint8_t v = kValues[*p++];
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

void base64_encoder_t::add(std::string_view bytes, std::string& out) {
    if (bytes.empty()) return;
    std::size_t at = 0;
    if (m_count > 0) {
        // Complete the pending group first.
        unsigned char group[3] = {m_pending[0], m_pending[1], 0};
        while (m_count < 3 && at < bytes.size())
            group[m_count++] = static_cast<unsigned char>(bytes[at++]);
        if (m_count < 3) {
            m_pending[0] = group[0];
            m_pending[1] = group[1];
            return;
        }
        out += base64_encode(group, 3);
        m_count = 0;
    }
    const std::size_t whole = (bytes.size() - at) / 3 * 3;
    if (whole > 0) {
        const std::size_t before = out.size();
        out.resize(before + whole / 3 * 4);
        const auto* in = reinterpret_cast<const unsigned char*>(bytes.data()) + at;
        char* o = out.data() + before;
        for (std::size_t i = 0; i < whole; i += 3) {
            const std::uint32_t v = static_cast<std::uint32_t>(in[i]) << 16 |
                                    static_cast<std::uint32_t>(in[i + 1]) << 8 | in[i + 2];
            *o++ = kAlphabet[v >> 18];
            *o++ = kAlphabet[(v >> 12) & 0x3F];
            *o++ = kAlphabet[(v >> 6) & 0x3F];
            *o++ = kAlphabet[v & 0x3F];
        }
        at += whole;
    }
    while (at < bytes.size()) m_pending[m_count++] = static_cast<unsigned char>(bytes[at++]);
}

void base64_encoder_t::finish(std::string& out) {
    if (m_count > 0) out += base64_encode(m_pending, m_count);
    m_count = 0;
}

void base64_decoder_t::add(std::string_view text, std::string& out) {
    const std::size_t before = out.size();
    out.resize(before + (text.size() + 3) / 4 * 3 + 3);
    char* o = out.data() + before;
    const auto* p = reinterpret_cast<const unsigned char*>(text.data());
    const unsigned char* const end = p + text.size();
    while (p != end) {
        if (m_count == 0) {
            decode_groups(p, end, o);
            if (p == end) break;
        }
        const std::uint8_t v = kValues[*p++];
        if (v == kSkip) continue;
        m_bits = m_bits << 6 | v;
        if (++m_count == 4) {
            *o++ = static_cast<char>(m_bits >> 16);
            *o++ = static_cast<char>(m_bits >> 8);
            *o++ = static_cast<char>(m_bits);
            m_bits = 0;
            m_count = 0;
        }
    }
    out.resize(static_cast<std::size_t>(o - out.data()));
}

void base64_decoder_t::finish(std::string& out) {
    if (m_count >= 2) out += static_cast<char>(m_bits >> (6 * m_count - 8));
    if (m_count == 3) out += static_cast<char>(m_bits >> 2);
    m_bits = 0;
    m_count = 0;
}

}  // namespace Core_Common
