// Internal to common/: bounded building of NUL-terminated texts in a
// caller-provided buffer, for the parts of a crash report that allocate
// nothing.
#pragma once

#include <cstddef>
#include <cstdint>

namespace Core_Common {

// Bounded text building for the fixed-size results.
struct text_builder_t {
    char* out;
    std::size_t capacity;
    std::size_t used = 0;

    void put(char c) {
        if (used + 1 < capacity) out[used++] = c;
        out[used] = '\0';
    }
    void put(const char* text) {
        while (*text != '\0') put(*text++);
    }
    void put_unsigned(std::uint64_t v, int width = 0) {
        char digits[24];
        int n = 0;
        do {
            digits[n++] = static_cast<char>('0' + v % 10);
            v /= 10;
        } while (v != 0);
        for (int i = n; i < width; ++i) put('0');
        while (n > 0) put(digits[--n]);
    }
};

}  // namespace Core_Common
