#include "common/thread_crash.h"

#include <string>

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
    Core_Platform::exit_process(THREAD_CRASH_EXIT_CODE);
}

}  // namespace Core_Common
