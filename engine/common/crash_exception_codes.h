// Internal to common/: the exception codes of a crash report, their names
// in the report, and the code of a fatal signal. Pure functions that
// allocate nothing (they run inside a signal handler).
#pragma once

#include <cstdint>

namespace Core_Common {

// Exception codes of the report (the numbering the report format uses).
inline constexpr std::uint32_t CRASH_CODE_DATATYPE_MISALIGNMENT = 0x80000002u;
inline constexpr std::uint32_t CRASH_CODE_ACCESS_VIOLATION = 0xC0000005u;
inline constexpr std::uint32_t CRASH_CODE_IN_PAGE_ERROR = 0xC0000006u;
inline constexpr std::uint32_t CRASH_CODE_ILLEGAL_INSTRUCTION = 0xC000001Du;
inline constexpr std::uint32_t CRASH_CODE_ARRAY_BOUNDS_EXCEEDED = 0xC000008Cu;
inline constexpr std::uint32_t CRASH_CODE_FLOAT_DIVIDE_BY_ZERO = 0xC000008Eu;
inline constexpr std::uint32_t CRASH_CODE_FLOAT_INEXACT_RESULT = 0xC000008Fu;
inline constexpr std::uint32_t CRASH_CODE_FLOAT_INVALID_OPERATION = 0xC0000090u;
inline constexpr std::uint32_t CRASH_CODE_FLOAT_OVERFLOW = 0xC0000091u;
inline constexpr std::uint32_t CRASH_CODE_FLOAT_UNDERFLOW = 0xC0000093u;
inline constexpr std::uint32_t CRASH_CODE_INTEGER_DIVIDE_BY_ZERO = 0xC0000094u;
inline constexpr std::uint32_t CRASH_CODE_INTEGER_OVERFLOW = 0xC0000095u;
inline constexpr std::uint32_t CRASH_CODE_PRIVILEGED_INSTRUCTION = 0xC0000096u;
inline constexpr std::uint32_t CRASH_CODE_STACK_OVERFLOW = 0xC00000FDu;
// A language exception escaping a thread's callable.
inline constexpr std::uint32_t CRASH_CODE_CPP_EXCEPTION = 0xE06D7363u;
// abort(): the fatal application exit of the report numbering.
inline constexpr std::uint32_t CRASH_CODE_FATAL_APP_EXIT = 0x40000015u;

// The report's name of an exception code, with its article; any code not
// in the table gives "an Unknown exception type".
const char* exception_name(std::uint32_t code);

// The exception code of a fatal signal (its number and si_code).
std::uint32_t exception_code_for_signal(int signal, int signal_code);

}  // namespace Core_Common
