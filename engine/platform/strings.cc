#include "platform/strings.h"

namespace Core_Platform {
namespace {

// The one place that decides what the ANSI code page is on this platform.
// A single-byte code page would replace these two functions.
std::u16string decode_ansi(std::string_view ansi) { return utf8_to_wide(ansi); }
std::string encode_ansi(std::u16string_view wide) { return wide_to_utf8(wide); }

// True for a byte that stands for itself in every conversion: ASCII that is
// an XML character (tab, line feed, carriage return, 0x20-0x7F).
inline bool plain_byte(unsigned char c) {
    return c < 0x80 && (c >= 0x20 || c == 0x09 || c == 0x0A || c == 0x0D);
}

// The length of the leading run of plain bytes of `in`.
std::size_t plain_prefix(std::string_view in) {
    const auto* p = reinterpret_cast<const unsigned char*>(in.data());
    std::size_t i = 0;
    while (i < in.size() && plain_byte(p[i])) ++i;
    return i;
}

// Decodes strictly; returns false on any invalid sequence. Characters outside
// the Basic Multilingual Plane become surrogate pairs; the other code units
// that are not XML characters become '_'. `out` holds room for in.size() units
// (a UTF-8 text never has more code units than bytes); returns the count.
bool decode_utf8_strict(std::string_view in, char16_t* out, std::size_t& count) {
    const auto* p = reinterpret_cast<const unsigned char*>(in.data());
    const auto* end = p + in.size();
    char16_t* o = out;
    while (p < end) {
        unsigned c = *p++;
        if (c < 0x80) {
            *o++ =
                static_cast<char16_t>(c >= 0x20 || c == 0x09 || c == 0x0A || c == 0x0D ? c : u'_');
            continue;
        }
        int extra;
        std::uint32_t cp, min;
        if ((c & 0xE0) == 0xC0) {
            extra = 1, cp = c & 0x1F, min = 0x80;
        } else if ((c & 0xF0) == 0xE0) {
            extra = 2, cp = c & 0x0F, min = 0x800;
        } else if ((c & 0xF8) == 0xF0) {
            extra = 3, cp = c & 0x07, min = 0x10000;
        } else {
            return false;
        }
        if (end - p < extra) return false;
        for (int i = 0; i < extra; ++i) {
            unsigned cc = *p++;
            if ((cc & 0xC0) != 0x80) return false;
            cp = (cp << 6) | (cc & 0x3F);
        }
        if (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return false;
        if (cp >= 0x10000) {
            // A character outside the Basic Multilingual Plane is an XML
            // character: it becomes its surrogate pair.
            cp -= 0x10000;
            *o++ = static_cast<char16_t>(0xD800 + (cp >> 10));
            *o++ = static_cast<char16_t>(0xDC00 + (cp & 0x3FF));
        } else {
            *o++ = cp == 0xFFFE || cp == 0xFFFF ? u'_' : static_cast<char16_t>(cp);
        }
    }
    count = static_cast<std::size_t>(o - out);
    return true;
}

// Writes the UTF-8 form of `cp` at `o`; returns the position after it.
char* put_utf8(char* o, std::uint32_t cp) {
    if (cp < 0x80) {
        *o++ = static_cast<char>(cp);
    } else if (cp < 0x800) {
        *o++ = static_cast<char>(0xC0 | (cp >> 6));
        *o++ = static_cast<char>(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
        *o++ = static_cast<char>(0xE0 | (cp >> 12));
        *o++ = static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        *o++ = static_cast<char>(0x80 | (cp & 0x3F));
    } else {
        *o++ = static_cast<char>(0xF0 | (cp >> 18));
        *o++ = static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
        *o++ = static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        *o++ = static_cast<char>(0x80 | (cp & 0x3F));
    }
    return o;
}

}  // namespace

bool is_xml_code_unit(char16_t cu) {
    if (cu < 0x20) return cu == 0x09 || cu == 0x0A || cu == 0x0D;
    if (cu >= 0xD800 && cu <= 0xDFFF) return false;
    return cu != 0xFFFE && cu != 0xFFFF;
}

bool utf8_to_wide_into(std::string_view utf8, char16_t* out, std::size_t& count) {
    count = 0;
    if (decode_utf8_strict(utf8, out, count)) return true;
    count = 0;
    return false;
}

std::u16string utf8_to_wide(std::string_view utf8) {
    std::u16string out;
    out.resize(utf8.size());
    std::size_t count = 0;
    if (!decode_utf8_strict(utf8, out.data(), count)) return {};
    out.resize(count);
    // Long texts with many multi-byte characters leave room unused.
    if (out.capacity() - count > count / 8 + 64) out.shrink_to_fit();
    return out;
}

void wide_to_utf8(std::u16string_view wide, std::string& out) {
    // The exact length first, so long texts take no more memory than they
    // need.
    const std::size_t n = wide.size();
    std::size_t bytes = 0;
    for (std::size_t i = 0; i < n; ++i) {
        const std::uint32_t cu = wide[i];
        if (cu < 0x80) {
            bytes += 1;
        } else if (cu < 0x800) {
            bytes += 2;
        } else if (cu >= 0xD800 && cu <= 0xDBFF && i + 1 < n && wide[i + 1] >= 0xDC00 &&
                   wide[i + 1] <= 0xDFFF) {
            bytes += 4;
            ++i;
        } else if (cu >= 0xD800 && cu <= 0xDFFF) {
            bytes += 1;  // a lone surrogate becomes '_'
        } else {
            bytes += 3;
        }
    }
    out.resize(bytes);
    char* o = out.data();
    for (std::size_t i = 0; i < n; ++i) {
        const std::uint32_t cu = wide[i];
        if (cu < 0x80) {
            *o++ = static_cast<char>(cu);
        } else if (cu >= 0xD800 && cu <= 0xDBFF && i + 1 < n && wide[i + 1] >= 0xDC00 &&
                   wide[i + 1] <= 0xDFFF) {
            o = put_utf8(o, 0x10000 + ((cu - 0xD800) << 10) + (wide[i + 1] - 0xDC00));
            ++i;
        } else if (cu >= 0xD800 && cu <= 0xDFFF) {
            *o++ = '_';
        } else {
            o = put_utf8(o, cu);
        }
    }
}

std::string wide_to_utf8(std::u16string_view wide) {
    std::string out;
    wide_to_utf8(wide, out);
    return out;
}

std::u16string ansi_to_wide(std::string_view ansi) { return decode_ansi(ansi); }
std::string wide_to_ansi(std::u16string_view wide) { return encode_ansi(wide); }
// Text made of plain bytes only comes through both conversions unchanged.
std::string ansi_to_utf8(std::string_view ansi) {
    std::string out;
    ansi_to_utf8(ansi, out);
    return out;
}
void ansi_to_utf8(std::string_view ansi, std::string& out) {
    if (plain_prefix(ansi) == ansi.size()) {
        out.assign(ansi);
    } else {
        out = wide_to_utf8(ansi_to_wide(ansi));
    }
}
std::string utf8_to_ansi(std::string_view utf8) {
    if (plain_prefix(utf8) == utf8.size()) return std::string(utf8);
    return wide_to_ansi(utf8_to_wide(utf8));
}

char hex_digit_lower(unsigned nibble) { return "0123456789abcdef"[nibble & 0xF]; }
char hex_digit_upper(unsigned nibble) { return "0123456789ABCDEF"[nibble & 0xF]; }

int hex_value(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

std::string to_hex(const void* data, std::size_t size) {
    const auto* p = static_cast<const unsigned char*>(data);
    std::string out;
    out.reserve(size * 2);
    for (std::size_t i = 0; i < size; ++i) {
        out.push_back(hex_digit_lower(p[i] >> 4));
        out.push_back(hex_digit_lower(p[i]));
    }
    return out;
}

std::string to_hex(std::string_view bytes) { return to_hex(bytes.data(), bytes.size()); }

bool from_hex(std::string_view hex, std::string& out) {
    if (hex.size() % 2 != 0) return false;
    std::string result;
    result.reserve(hex.size() / 2);
    for (std::size_t i = 0; i < hex.size(); i += 2) {
        int hi = hex_value(hex[i]), lo = hex_value(hex[i + 1]);
        if (hi < 0 || lo < 0) return false;
        result.push_back(static_cast<char>((hi << 4) | lo));
    }
    out = std::move(result);
    return true;
}

char ascii_lower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

std::string ascii_lower(std::string_view s) {
    std::string out(s);
    for (auto& c : out) c = ascii_lower(c);
    return out;
}

std::u16string ascii_lower(std::u16string_view s) {
    std::u16string out(s);
    for (auto& c : out) {
        if (c >= u'A' && c <= u'Z') c = static_cast<char16_t>(c - u'A' + u'a');
    }
    return out;
}

}  // namespace Core_Platform
