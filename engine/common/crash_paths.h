// Internal to common/: the path helpers of the crash reporter, on
// NUL-terminated texts in caller-provided buffers (they run inside a signal
// handler and allocate nothing).
#pragma once

#include <cstddef>

namespace Core_Common {

// The file name part of a path (after the last '/' or '\\').
const char* file_name_of(const char* path);
// The program name: the file name without its part from the last '.'.
void program_name_of(const char* path, char* out, std::size_t capacity);
// The helper program's path: `path` with its file name replaced by
// `helper_name`. False when it does not fit.
bool sibling_path(const char* path, const char* helper_name, char* out, std::size_t capacity);

}  // namespace Core_Common
