// crash_probe: a program that crashes on purpose in a chosen way, for the
// crash reporter's tests. Usage: crash_probe SCENARIO
//   read-null   a service thread reads address 0
//   write       a service thread writes to address 0x10
//   divide      a service thread divides an integer by zero
//   abort       a service thread calls abort()
//   overflow    a service thread recurses without end
//   exception   an exception escapes a service thread's callable
//   main-fault  the main thread reads address 0 (not a service thread)
//   twice       two reports from the main thread: the second ends the process
// Exit status 3 means the crash did not end the process.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <stdexcept>
#include <string>

#include "common/crash_exception_codes.h"
#include "common/crash_reporter.h"
#include "common/thread_basic.h"
#include "platform/fault_signals.h"

namespace {

// The faults are written so that the compiler and the sanitizers leave
// them to the processor.
__attribute__((noinline, no_sanitize("address", "undefined"))) int read_at(std::uintptr_t address) {
    auto* p = reinterpret_cast<volatile int*>(address);
    asm volatile("" : "+r"(p));
    return *p;
}

__attribute__((noinline, no_sanitize("address", "undefined"))) void write_at(
    std::uintptr_t address) {
    auto* p = reinterpret_cast<volatile int*>(address);
    asm volatile("" : "+r"(p));
    *p = 1;
}

__attribute__((noinline, no_sanitize("undefined"))) int divide(int a, int b) {
    asm volatile("" : "+r"(a), "+r"(b));
    return a / b;
}

__attribute__((noinline, no_sanitize("address"))) int recurse(int depth) {
    static volatile int never = -1;  // the stack ends long before
    if (depth == never) return 0;
    volatile char frame[1024];
    frame[0] = static_cast<char>(depth);
    return recurse(depth + 1) + frame[0];
}

int run_on_service_thread(void (*work)()) {
    Core_Common::thread_basic thread;
    thread.start_thread(work, "SocketOutgoing", Core_Common::thread_helper::PRIORITY_NORMAL);
    thread.join();
    return 3;
}

}  // namespace

int main(int argc, char** argv) {
    const std::string scenario = argc > 1 ? argv[1] : "";
    if (scenario == "read-null") {
        return run_on_service_thread([] { std::printf("%d\n", read_at(0)); });
    }
    if (scenario == "write") {
        return run_on_service_thread([] { write_at(0x10); });
    }
    if (scenario == "divide") {
        return run_on_service_thread([] { std::printf("%d\n", divide(1, 0)); });
    }
    if (scenario == "abort") {
        return run_on_service_thread([] { std::abort(); });
    }
    if (scenario == "overflow") {
        return run_on_service_thread([] { std::printf("%d\n", recurse(0)); });
    }
    if (scenario == "exception") {
        return run_on_service_thread([] { throw std::runtime_error("probe"); });
    }
    if (scenario == "main-fault") {
        Core_Common::install_crash_reporter();
        std::printf("%d\n", read_at(0));
        return 3;
    }
    if (scenario == "twice") {
        Core_Common::install_crash_reporter();
        Core_Common::crash_exception_t e;
        e.code = Core_Common::CRASH_CODE_INTEGER_OVERFLOW;
        Core_Platform::capture_current_context(e.context);
        std::printf("first=%d\n", Core_Common::write_crash_report(e, "probe"));
        std::fflush(stdout);
        std::remove("CRASHLOG.TXT");
        Core_Common::write_crash_report(e, "probe");
        std::printf("second returned\n");
        return 3;
    }
    std::fprintf(
        stderr,
        "usage: crash_probe read-null|write|divide|abort|overflow|exception|main-fault|twice\n");
    return 2;
}
