// Public engine surface: catching the fatal signals of guarded threads.
//
// The engine reports a fault (SIGSEGV, SIGBUS, SIGFPE, SIGILL, SIGABRT) that
// happens on one of its service threads. install_fault_handler installs one
// process-wide handler for those five signals; a thread opts in by holding a
// thread_fault_guard for as long as it runs. On a guarded thread the
// handler calls the installed fault_handler_fn with the fault's context, on
// an alternate signal stack (so a stack overflow is reported too). On any
// other thread, or when the fault_handler_fn returns, the signal takes the
// course it would have taken without us: the previous disposition is put
// back and the signal delivered again.
//
// The fault_handler_fn runs inside a signal handler: it may use only
// async-signal-safe calls, no heap and no locks.
#pragma once

#include <cstddef>
#include <cstdint>

namespace Core_Platform {

// The machine state at a fault (or at a capture point), in a form that does
// not depend on the processor: the registers of the report under neutral
// names (64-bit values on a 64-bit machine).
struct fault_context_t {
    int signal = 0;       // 0: not a signal (a captured context)
    int signal_code = 0;  // si_code
    std::uintptr_t fault_address = 0;
    bool write_access = false;    // an access fault caused by a write
    bool from_kernel = false;     // raised by the processor, not sent by a process
    bool stack_overflow = false;  // an access just below the guarded thread's stack
    bool has_registers = false;
    std::uint64_t di = 0, si = 0, ax = 0, bx = 0, cx = 0, dx = 0;
    std::uint64_t ip = 0, bp = 0, sp = 0, flags = 0;
    std::uint64_t cs = 0, ss = 0;
};

// Called on a guarded thread in the signal handler. Returns only to decline
// (the fault then takes its default course).
using fault_handler_fn = void (*)(const fault_context_t& context);

// Installs `handler` for the five fatal signals. The first call installs;
// later calls only replace the function. Returns false when the system
// refuses a handler (the signals then keep their previous disposition).
bool install_fault_handler(fault_handler_fn handler);

// Marks the calling thread as guarded and gives it an alternate signal
// stack, for the life of the object. Create it on the thread it guards, at
// the start of the thread's work; guards do not nest.
class thread_fault_guard {
public:
    thread_fault_guard();
    ~thread_fault_guard();
    thread_fault_guard(const thread_fault_guard&) = delete;
    thread_fault_guard& operator=(const thread_fault_guard&) = delete;

private:
    void* m_stack = nullptr;
    std::size_t m_stack_size = 0;
    // The alternate stack the thread had before (put back at the end).
    void* m_previous_stack = nullptr;
    std::size_t m_previous_size = 0;
    int m_previous_flags = 0;
};

// True on a thread that holds a thread_fault_guard.
bool current_thread_guarded();

// The calling thread's registers at this call (signal 0), for reports of
// faults that are not signals.
void capture_current_context(fault_context_t& out);

}  // namespace Core_Platform
