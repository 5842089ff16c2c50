// Public engine surface: the framework's reaction to a broken invariant.
//
// fatal_error() throws std::runtime_error with the text "crash". Nothing in
// the framework catches it: on the main thread it leaves the pump and the
// component method that called it; on a service thread it ends in the crash
// handling of thread_basic (common/thread_basic.h). Code that wants the crash
// report to say why fills debug_info_text or crash_info_text first
// (common/diagnostic_text.h).
//
// May be called from any thread.
#pragma once

namespace Core_Common {

// The text of the exception fatal_error() throws.
inline constexpr const char* FATAL_ERROR_TEXT = "crash";

[[noreturn]] void fatal_error();

}  // namespace Core_Common
