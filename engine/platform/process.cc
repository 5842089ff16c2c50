#include "platform/process.h"

#include <unistd.h>

namespace Core_Platform {
namespace {

void write_all(const char* data, std::size_t size) noexcept {
    while (size > 0) {
        const ssize_t n = ::write(STDERR_FILENO, data, size);
        if (n <= 0) return;
        data += n;
        size -= static_cast<std::size_t>(n);
    }
}

}  // namespace

void write_stderr_line(std::string_view line) noexcept {
    write_all(line.data(), line.size());
    write_all("\n", 1);
}

void exit_process(int code) noexcept { ::_exit(code); }

}  // namespace Core_Platform
