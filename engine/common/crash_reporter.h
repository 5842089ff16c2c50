// Public engine surface: the crash reporter of service threads.
//
// When a service thread started through thread_basic dies (a fatal signal:
// SIGSEGV, SIGBUS, SIGFPE, SIGILL, SIGABRT; or an exception escaping its
// callable), the reporter writes three files into the current directory:
//   - "CRASH.DMP": the memory dump; empty here (there is no dump library on
//     this platform);
//   - "CRASHLOG.TXT": the text report, UTF-16 little-endian with a byte
//     order mark, lines ending in CR LF: the exception, the machine, the
//     process, the diagnostic texts, the page allocator's figures, the
//     registers and the code bytes at the faulting instruction;
//   - "CRASHLOG.DAT": empty (nothing in the engine gives it content);
// then starts the helper program "CrashReport" from the executable's
// directory when it is there (with the executable's file name as its
// argument), and the process ends with exit code 100. Only the first report
// of a process is written: any later one ends the process at once with
// code 100, from whichever thread.
//
// The report path allocates nothing and takes no lock: what does not change
// (paths, user, system names) is read by install_crash_reporter, the rest
// with plain system calls into static buffers.
//
// Faults on threads that are not service threads (the main thread) are not
// reported: they take their default course.
#pragma once

#include <cstdint>
#include <string_view>

#include "platform/fault_signals.h"

namespace Core_Common {

// Reads the facts the report needs and installs the fatal-signal handler.
// Runs once per process (later calls return the first result); any thread,
// not from a signal handler. False when the handler could not be installed.
bool install_crash_reporter();

// Installs the reporter (once) and guards the calling thread for its
// lifetime: a fatal signal on it is reported. Create one at the start of a
// service thread's body, on that thread.
class service_thread_crash_guard {
public:
    service_thread_crash_guard();
    service_thread_crash_guard(const service_thread_crash_guard&) = delete;
    service_thread_crash_guard& operator=(const service_thread_crash_guard&) = delete;

private:
    Core_Platform::thread_fault_guard m_guard;
};

// The exception information of one report.
struct crash_exception_t {
    std::uint32_t code = 0;                // common/crash_report_text.h numbering
    std::uint32_t parameter_count = 0;     // 2 for an access violation
    std::uint64_t parameters[2] = {0, 0};  // 0 read / 1 write, the address
    Core_Platform::fault_context_t context;
};

// The exception information of a fatal signal: its code (a stack overflow
// is told apart from other access faults), and for an access fault raised
// by the processor the kind of access and the address.
crash_exception_t crash_exception_from_fault(const Core_Platform::fault_context_t& fault);

// Writes the report. Returns 1 after a report (the caller then ends the
// process with code 100), 0 when "CRASHLOG.TXT" cannot be created (nothing
// else is written and no helper started). A call after the first ends the
// process at once with exit code 100. Async-signal-safe once
// install_crash_reporter has run.
int write_crash_report(const crash_exception_t& exception, const char* handler_name);

// The text the socket layer records when it starts its socket library;
// the report prints "n/a" until then. Cut to 127 bytes.
void set_socket_init_version_text(std::string_view text);

}  // namespace Core_Common
