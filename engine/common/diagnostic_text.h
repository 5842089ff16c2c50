// Public engine surface: the two process-wide diagnostic texts that a crash
// report prints.
//
//   - crash_info_text: why the page allocator gave up ("Not enough memory.",
//     "The paging file is too small for memory allocation.");
//   - debug_info_text: what the timer queue found broken ("empty timer
//     func:" and the timer's name).
//
// Each is a buffer of DIAGNOSTIC_TEXT_CAPACITY wide characters and a
// terminator, empty at start. A setter copies at most that many characters and
// always terminates the text. Setters and getters may be called from any
// thread; the *_buffer() pointers are for the crash reporter, which reads
// without taking a lock because it runs when the process is already failing.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace Core_Common {

inline constexpr std::size_t DIAGNOSTIC_TEXT_CAPACITY = 1024;

void set_crash_info_text(std::u16string_view text);
std::u16string crash_info_text();
const char16_t* crash_info_text_buffer();

void set_debug_info_text(std::u16string_view text);
std::u16string debug_info_text();
const char16_t* debug_info_text_buffer();

}  // namespace Core_Common
