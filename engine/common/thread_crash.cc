#include "common/thread_crash.h"

#include <string>

#include "common/crash_exception_codes.h"
#include "common/crash_reporter.h"
#include "platform/fault_signals.h"
#include "platform/process.h"

namespace Core_Common {

void report_thread_crash(const char* handler_name, std::string_view thread_name,
                         std::exception_ptr error) noexcept {
    std::string what = "unknown exception";
    try {
        if (error) std::rethrow_exception(error);
    } catch (const std::exception& e) {
        what = e.what();
    } catch (...) {
    }
    std::string line = handler_name != nullptr ? handler_name : "";
    line += ": uncaught exception on thread \"";
    line += thread_name;
    line += "\": ";
    line += what;
    Core_Platform::write_stderr_line(line);

    // The full report. The stack is unwound already: the registers are those
    // of this point of the thread.
    install_crash_reporter();
    crash_exception_t exception;
    exception.code = CRASH_CODE_CPP_EXCEPTION;
    Core_Platform::capture_current_context(exception.context);
    write_crash_report(exception, handler_name);
    // Whether or not the report could be written, the process ends here.
    Core_Platform::exit_process(THREAD_CRASH_EXIT_CODE);
}

}  // namespace Core_Common
