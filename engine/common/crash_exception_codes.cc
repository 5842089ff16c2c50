#include "common/crash_exception_codes.h"

#include <signal.h>

namespace Core_Common {
namespace {

struct code_name_t {
    std::uint32_t code;
    const char* name;
};

constexpr code_name_t kExceptionNames[] = {
    {0x40010005u, "a Control-C"},
    {0x40010008u, "a Control-Break"},
    {0x80000002u, "a Datatype Misalignment"},
    {0x80000003u, "a Breakpoint"},
    {0xC0000005u, "an Access Violation"},
    {0xC0000006u, "an In Page Error"},
    {0xC0000017u, "a No Memory"},
    {0xC000001Du, "an Illegal Instruction"},
    {0xC0000025u, "a Noncontinuable Exception"},
    {0xC0000026u, "an Invalid Disposition"},
    {0xC000008Cu, "a Array Bounds Exceeded"},
    {0xC000008Du, "a Float Denormal Operand"},
    {0xC000008Eu, "a Float Divide by Zero"},
    {0xC000008Fu, "a Float Inexact Result"},
    {0xC0000090u, "a Float Invalid Operation"},
    {0xC0000091u, "a Float Overflow"},
    {0xC0000092u, "a Float Stack Check"},
    {0xC0000093u, "a Float Underflow"},
    {0xC0000094u, "an Integer Divide by Zero"},
    {0xC0000095u, "an Integer Overflow"},
    {0xC0000096u, "a Privileged Instruction"},
    {0xC00000FDu, "a Stack Overflow"},
    {0xC0000142u, "a DLL Initialization Failed"},
    {0xE06D7363u, "a Microsoft C++ Exception"},
};

}  // namespace

const char* exception_name(std::uint32_t code) {
    for (const code_name_t& e : kExceptionNames) {
        if (e.code == code) return e.name;
    }
    return "an Unknown exception type";
}

std::uint32_t exception_code_for_signal(int signal, int signal_code) {
    switch (signal) {
        case SIGSEGV:
            return CRASH_CODE_ACCESS_VIOLATION;
        case SIGBUS:
            return signal_code == BUS_ADRALN ? CRASH_CODE_DATATYPE_MISALIGNMENT
                                             : CRASH_CODE_IN_PAGE_ERROR;
        case SIGFPE:
            switch (signal_code) {
                case FPE_INTDIV:
                    return CRASH_CODE_INTEGER_DIVIDE_BY_ZERO;
                case FPE_INTOVF:
                    return CRASH_CODE_INTEGER_OVERFLOW;
                case FPE_FLTDIV:
                    return CRASH_CODE_FLOAT_DIVIDE_BY_ZERO;
                case FPE_FLTOVF:
                    return CRASH_CODE_FLOAT_OVERFLOW;
                case FPE_FLTUND:
                    return CRASH_CODE_FLOAT_UNDERFLOW;
                case FPE_FLTRES:
                    return CRASH_CODE_FLOAT_INEXACT_RESULT;
                case FPE_FLTSUB:
                    return CRASH_CODE_ARRAY_BOUNDS_EXCEEDED;
                default:
                    return CRASH_CODE_FLOAT_INVALID_OPERATION;
            }
        case SIGILL:
            return signal_code == ILL_PRVOPC || signal_code == ILL_PRVREG
                       ? CRASH_CODE_PRIVILEGED_INSTRUCTION
                       : CRASH_CODE_ILLEGAL_INSTRUCTION;
        case SIGABRT:
            return CRASH_CODE_FATAL_APP_EXIT;
        default:
            return 0;
    }
}

}  // namespace Core_Common
