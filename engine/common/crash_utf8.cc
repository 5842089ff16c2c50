#include "common/crash_utf8.h"

namespace Core_Common {

std::size_t decode_utf8(const char* text, char16_t* out, std::size_t room) {
    const auto* p = reinterpret_cast<const unsigned char*>(text);
    std::size_t n = 0;
    while (*p != 0 && n < room) {
        char32_t cp = 0xFFFD;
        int extra = 0;
        if (*p < 0x80) {
            cp = *p;
        } else if ((*p & 0xE0) == 0xC0) {
            cp = *p & 0x1F;
            extra = 1;
        } else if ((*p & 0xF0) == 0xE0) {
            cp = *p & 0x0F;
            extra = 2;
        } else if ((*p & 0xF8) == 0xF0) {
            cp = *p & 0x07;
            extra = 3;
        } else {
            extra = -1;
        }
        ++p;
        if (extra < 0) {
            cp = 0xFFFD;
        } else {
            for (int i = 0; i < extra; ++i) {
                if ((*p & 0xC0) != 0x80) {
                    cp = 0xFFFD;
                    break;
                }
                cp = (cp << 6) | (*p & 0x3F);
                ++p;
            }
        }
        if (cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) cp = 0xFFFD;
        if (cp >= 0x10000) {
            if (n + 2 > room) break;
            cp -= 0x10000;
            out[n++] = static_cast<char16_t>(0xD800 + (cp >> 10));
            out[n++] = static_cast<char16_t>(0xDC00 + (cp & 0x3FF));
        } else {
            out[n++] = static_cast<char16_t>(cp);
        }
    }
    return n;
}

}  // namespace Core_Common
