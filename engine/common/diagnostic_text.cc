#include "common/diagnostic_text.h"

#include <algorithm>
#include <mutex>

namespace Core_Common {
namespace {

struct text_buffer_t {
    std::mutex lock;
    char16_t text[DIAGNOSTIC_TEXT_CAPACITY + 1] = {};

    void set(std::u16string_view value) {
        std::lock_guard<std::mutex> guard(lock);
        const std::size_t n = std::min(value.size(), DIAGNOSTIC_TEXT_CAPACITY);
        std::copy_n(value.data(), n, text);
        text[n] = u'\0';
    }
    std::u16string get() {
        std::lock_guard<std::mutex> guard(lock);
        return std::u16string(text);
    }
};

// Static storage: a crash report must find the texts without allocating.
text_buffer_t g_crash_info;
text_buffer_t g_debug_info;

}  // namespace

void set_crash_info_text(std::u16string_view text) { g_crash_info.set(text); }
std::u16string crash_info_text() { return g_crash_info.get(); }
const char16_t* crash_info_text_buffer() { return g_crash_info.text; }

void set_debug_info_text(std::u16string_view text) { g_debug_info.set(text); }
std::u16string debug_info_text() { return g_debug_info.get(); }
const char16_t* debug_info_text_buffer() { return g_debug_info.text; }

}  // namespace Core_Common
