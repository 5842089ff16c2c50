#include "standard_streams.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>

#include "file_ops.h"

namespace Core_Platform {

int take_standard_output() {
    const int kept = ::fcntl(STDOUT_FILENO, F_DUPFD_CLOEXEC, 3);
    if (kept < 0) return -1;
    if (::dup2(STDERR_FILENO, STDOUT_FILENO) < 0) {
        const int saved = errno;
        ::close(kept);
        errno = saved;
        return -1;
    }
    return kept;
}

void ignore_broken_pipes() { ::signal(SIGPIPE, SIG_IGN); }

int wait_for_standard_input(int timeout_ms) {
    pollfd in = {STDIN_FILENO, POLLIN, 0};
    const int ready = ::poll(&in, 1, timeout_ms);
    if (ready < 0) return errno == EINTR ? 0 : -1;
    return ready > 0 ? 1 : 0;
}

ssize_t read_standard_input(void* buffer, std::size_t count) {
    return file_read(STDIN_FILENO, buffer, count);
}

bool write_all(int fd, std::string_view bytes) {
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = file_write(fd, bytes.data() + done, bytes.size() - done);
        if (n < 0) return false;
        if (n == 0) {
            errno = EIO;
            return false;
        }
        done += static_cast<std::size_t>(n);
    }
    return true;
}

}  // namespace Core_Platform
