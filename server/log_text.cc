#include "log_text.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>

namespace Core_Server {
namespace {

// The length of the valid UTF-8 sequence at the start of `s` and its code
// point, or 0 when it is not one (overlong forms and surrogates included).
std::size_t utf8_sequence(std::string_view s, std::uint32_t& code) {
    const auto c0 = static_cast<unsigned char>(s[0]);
    std::size_t n;
    std::uint32_t min;
    if (c0 < 0x80) {
        code = c0;
        return 1;
    } else if ((c0 & 0xE0) == 0xC0) {
        n = 2, min = 0x80, code = c0 & 0x1F;
    } else if ((c0 & 0xF0) == 0xE0) {
        n = 3, min = 0x800, code = c0 & 0x0F;
    } else if ((c0 & 0xF8) == 0xF0) {
        n = 4, min = 0x10000, code = c0 & 0x07;
    } else {
        return 0;
    }
    if (s.size() < n) return 0;
    for (std::size_t i = 1; i < n; ++i) {
        const auto c = static_cast<unsigned char>(s[i]);
        if ((c & 0xC0) != 0x80) return 0;
        code = code << 6 | (c & 0x3F);
    }
    if (code < min || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)) return 0;
    return n;
}

bool reorders_text(std::uint32_t c) {
    return c == 0x200E || c == 0x200F || (c >= 0x202A && c <= 0x202E) ||
           (c >= 0x2066 && c <= 0x2069);
}

}  // namespace

std::string log_safe(std::string_view text, std::size_t max_bytes, bool quotes) {
    std::string out;
    out.reserve(std::min(text.size(), max_bytes) + 16);
    std::size_t i = 0;
    while (i < text.size()) {
        std::uint32_t code = 0;
        const std::size_t n = utf8_sequence(text.substr(i), code);
        const std::size_t taken = n == 0 ? 1 : n;
        if (i + taken > max_bytes) break;
        char escape[16];
        if (n == 0) {
            std::snprintf(escape, sizeof escape, "\\x%02x", static_cast<unsigned char>(text[i]));
            out += escape;
        } else if (quotes && (code == '"' || code == '\\')) {
            out += '\\';
            out += static_cast<char>(code);
        } else if (code < 0x20 || (code >= 0x7F && code < 0xA0)) {
            std::snprintf(escape, sizeof escape, "\\x%02x", static_cast<unsigned>(code));
            out += escape;
        } else if (reorders_text(code)) {
            std::snprintf(escape, sizeof escape, "\\u{%04x}", static_cast<unsigned>(code));
            out += escape;
        } else {
            out.append(text.substr(i, n));
        }
        i += taken;
    }
    if (i < text.size()) out += "...(" + std::to_string(text.size()) + " bytes)";
    return out;
}

}  // namespace Core_Server
