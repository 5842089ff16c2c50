// Runtime surface: nsID, the 16-byte identifier of interfaces (nsIID) and
// classes (nsCID).
//
// Text form: "{xxxxxxxx-xxxx-xxxx-xxxx-xxxxxxxxxxxx}", 38 characters; the
// first three groups are the numbers m0, m1, m2, the last two the eight
// bytes m3 in order. Formatting writes lower-case digits with the braces;
// parsing takes either case, with or without the braces (both or neither).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

#include "xpcom/export.h"

// Characters of the text form including the terminator.
inline constexpr std::size_t NSID_LENGTH = 39;

struct nsID {
    std::uint32_t m0;
    std::uint16_t m1;
    std::uint16_t m2;
    std::uint8_t m3[8];

    constexpr bool Equals(const nsID& other) const {
        if (m0 != other.m0 || m1 != other.m1 || m2 != other.m2) return false;
        for (int i = 0; i < 8; ++i) {
            if (m3[i] != other.m3[i]) return false;
        }
        return true;
    }
    constexpr bool operator==(const nsID& other) const { return Equals(other); }

    // Reads the text form. On success stores the value and returns true; on
    // failure (wrong length, a non-hex digit, a misplaced dash or brace)
    // returns false and leaves the value unchanged. `text` may be null.
    NS_RUNTIME_API bool Parse(const char* text);

    // Writes the text form with braces, lower case, and a terminator.
    NS_RUNTIME_API void ToProvidedString(char (&dest)[NSID_LENGTH]) const;
};
static_assert(sizeof(nsID) == 16, "an nsID is 16 bytes");

using nsIID = nsID;
using nsCID = nsID;

namespace ns_id_detail {

constexpr int hex_value(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// Reads `count` hex digits at `pos` into `out`; false on a non-digit.
constexpr bool read_hex(std::string_view text, std::size_t pos, std::size_t count,
                        std::uint64_t& out) {
    std::uint64_t v = 0;
    for (std::size_t i = 0; i < count; ++i) {
        const int d = hex_value(text[pos + i]);
        if (d < 0) return false;
        v = (v << 4) | static_cast<std::uint64_t>(d);
    }
    out = v;
    return true;
}

// The parse shared by nsID::Parse and ns_id_literal.
constexpr bool parse(std::string_view text, nsID& out) {
    if (text.size() == 38) {
        if (text.front() != '{' || text.back() != '}') return false;
        text = text.substr(1, 36);
    }
    if (text.size() != 36) return false;
    if (text[8] != '-' || text[13] != '-' || text[18] != '-' || text[23] != '-') return false;
    std::uint64_t v0 = 0, v1 = 0, v2 = 0;
    if (!read_hex(text, 0, 8, v0) || !read_hex(text, 9, 4, v1) || !read_hex(text, 14, 4, v2)) {
        return false;
    }
    nsID r{static_cast<std::uint32_t>(v0),
           static_cast<std::uint16_t>(v1),
           static_cast<std::uint16_t>(v2),
           {}};
    for (std::size_t i = 0; i < 8; ++i) {
        const std::size_t pos = i < 2 ? 19 + 2 * i : 24 + 2 * (i - 2);
        std::uint64_t b = 0;
        if (!read_hex(text, pos, 2, b)) return false;
        r.m3[i] = static_cast<std::uint8_t>(b);
    }
    out = r;
    return true;
}

}  // namespace ns_id_detail

// An identifier from its text form at compile time; a malformed literal does
// not compile.
consteval nsID ns_id_literal(std::string_view text) {
    nsID id{0, 0, 0, {}};
    if (!ns_id_detail::parse(text, id)) throw "malformed identifier literal";
    return id;
}
