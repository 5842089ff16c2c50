// Internal to common/: the UTF-8 decoder of the crash report, which runs
// inside a signal handler. Unlike the platform's decoder (strict, and
// allocating) it writes into a fixed buffer and is lenient: a byte that
// does not start or continue a sequence, a surrogate or a value beyond
// U+10FFFF becomes U+FFFD, so a damaged path still shows in the report.
#pragma once

#include <cstddef>

namespace Core_Common {

// Decodes the NUL-terminated `text` into `out`, at most `room` code units
// (a character that needs two and does not fit ends the text); returns the
// number written.
std::size_t decode_utf8(const char* text, char16_t* out, std::size_t room);

}  // namespace Core_Common
