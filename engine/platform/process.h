// Public engine surface: ending the process and last-resort diagnostics.
//
// These functions are for the paths where the process can no longer go on
// (an exception escaping a service thread). They allocate nothing and may be
// called from any thread.
#pragma once

#include <string_view>

namespace Core_Platform {

// Writes `line` and a line end to the standard error stream, unbuffered.
void write_stderr_line(std::string_view line) noexcept;

// Ends the whole process at once with `code`: no destructors of static
// objects run and no other thread gets to run again.
[[noreturn]] void exit_process(int code) noexcept;

}  // namespace Core_Platform
