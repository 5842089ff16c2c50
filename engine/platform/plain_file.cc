#include "platform/plain_file.h"

#include <errno.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace Core_Platform {

plain_file::~plain_file() { close(); }

bool plain_file::open_read_write(const std::string& path, bool truncate) {
    close();
    int fd;
    do {
        fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | (truncate ? O_TRUNC : 0), 0644);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0) {
        m_error = errno;
        return false;
    }
    m_fd = fd;
    return true;
}

void plain_file::close() {
    if (m_fd >= 0) {
        ::close(m_fd);
        m_fd = -1;
    }
}

bool plain_file::write(const void* data, std::size_t size) {
    if (m_fd < 0) {
        m_error = EBADF;
        return false;
    }
    const char* bytes = static_cast<const char*>(data);
    while (size > 0) {
        ssize_t n = ::write(m_fd, bytes, size);
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            m_error = errno;
            return false;
        }
        bytes += n;
        size -= static_cast<std::size_t>(n);
    }
    return true;
}

std::uint64_t plain_file::position() const {
    if (m_fd < 0) {
        return 0;
    }
    off_t at = ::lseek(m_fd, 0, SEEK_CUR);
    return at < 0 ? 0 : static_cast<std::uint64_t>(at);
}

bool is_regular_file(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

bool remove_file(const std::string& path) { return ::unlink(path.c_str()) == 0; }

}  // namespace Core_Platform
