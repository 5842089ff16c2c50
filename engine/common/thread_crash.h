// Public engine surface: the end of the process after a service thread
// crashed.
//
// thread_basic calls report_thread_crash when an exception escapes a service
// thread's callable. It writes one line naming the handler, the thread and the
// exception to the standard error stream and ends the process with exit code
// 100. This is the one place a crash report is made; a fuller report replaces
// the body of this function.
//
// Thread rule: any thread; it does not return.
#pragma once

#include <exception>
#include <string_view>

namespace Core_Common {

// The name of the guard that reports a crash.
inline constexpr const char* THREAD_CRASH_HANDLER_NAME = "Exception_Debuger";
// The exit code of a process ended by a crashed service thread.
inline constexpr int THREAD_CRASH_EXIT_CODE = 100;

[[noreturn]] void report_thread_crash(const char* handler_name, std::string_view thread_name,
                                      std::exception_ptr error) noexcept;

}  // namespace Core_Common
