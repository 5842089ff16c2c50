#include "platform/crash_io.h"

#include <fcntl.h>
#include <sched.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>

extern char** environ;

namespace Core_Platform {
namespace {

int g_probe[2] = {-1, -1};

std::size_t text_length(const char* text) {
    std::size_t n = 0;
    while (text[n] != '\0') ++n;
    return n;
}

bool is_hex(char c) { return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'); }

std::uintptr_t parse_hex(const char*& p) {
    std::uintptr_t v = 0;
    while (is_hex(*p)) {
        v = (v << 4) | static_cast<std::uintptr_t>(*p <= '9' ? *p - '0' : *p - 'a' + 10);
        ++p;
    }
    return v;
}

// Looks at one line of /proc/self/maps: "start-end perms offset dev inode   path".
bool match_map_line(const char* line, std::uintptr_t address, char* out, std::size_t capacity) {
    const char* p = line;
    const std::uintptr_t start = parse_hex(p);
    if (*p != '-') return false;
    ++p;
    const std::uintptr_t end = parse_hex(p);
    if (address < start || address >= end) return false;
    // Skip five fields, then the spaces before the path.
    for (int field = 0; field < 5; ++field) {
        while (*p != '\0' && *p != ' ') ++p;
        while (*p == ' ') ++p;
    }
    if (*p != '/') return false;  // anonymous, stack, heap, vdso
    std::size_t n = 0;
    while (p[n] != '\0' && n + 1 < capacity) {
        out[n] = p[n];
        ++n;
    }
    out[n] = '\0';
    return true;
}

}  // namespace

int create_report_file(const char* name) {
    // A report holds memory contents: private to the user. A link planted
    // under the report's name must not make the report overwrite the file
    // it points to, so symbolic links are not followed, and an existing file
    // is truncated only when it is a regular file of ours with no other name.
    int fd;
    do {
        fd = ::open(name, O_WRONLY | O_CREAT | O_NOFOLLOW | O_SYNC | O_CLOEXEC, 0600);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0) return -1;
    struct stat st;
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || st.st_nlink != 1 ||
        st.st_uid != ::geteuid() || ::fchmod(fd, 0600) != 0 || ::ftruncate(fd, 0) != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

bool write_fully(int fd, const void* data, std::size_t size) {
    const auto* p = static_cast<const char*>(data);
    while (size > 0) {
        const ssize_t n = ::write(fd, p, size);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        p += n;
        size -= static_cast<std::size_t>(n);
    }
    return true;
}

void close_file(int fd) {
    if (fd >= 0) ::close(fd);
}

void write_debug_output(const char* text) { write_fully(STDERR_FILENO, text, text_length(text)); }

bool prepare_memory_probe() {
    if (g_probe[0] >= 0) return true;
    return ::pipe2(g_probe, O_CLOEXEC | O_NONBLOCK) == 0;
}

bool read_memory_byte(std::uintptr_t address, std::uint8_t& out) {
    if (g_probe[1] < 0) return false;
    // The kernel copies from our memory for write(2) and answers EFAULT
    // instead of faulting when the address is not readable.
    if (::write(g_probe[1], reinterpret_cast<const void*>(address), 1) != 1) return false;
    return ::read(g_probe[0], &out, 1) == 1;
}

bool module_path_of(std::uintptr_t address, char* out, std::size_t capacity) {
    if (capacity == 0) return false;
    const int fd = ::open("/proc/self/maps", O_RDONLY | O_CLOEXEC);
    if (fd < 0) return false;
    char chunk[4096];
    char line[4096 + 256];
    std::size_t used = 0;
    bool found = false;
    for (;;) {
        const ssize_t n = ::read(fd, chunk, sizeof chunk);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        for (ssize_t i = 0; i < n && !found; ++i) {
            if (chunk[i] != '\n') {
                if (used + 1 < sizeof line) line[used++] = chunk[i];
                continue;
            }
            line[used] = '\0';
            found = match_map_line(line, address, out, capacity);
            used = 0;
        }
        if (found) break;
    }
    ::close(fd);
    return found;
}

bool executable_exists(const char* path) { return ::access(path, X_OK) == 0; }

void start_detached(const char* path, const char* argument) {
    // A raw clone: fork() would run the library's fork handlers, which take
    // locks a crashed thread may hold.
    const long pid = ::syscall(SYS_clone, SIGCHLD, nullptr, nullptr, nullptr, nullptr);
    if (pid == 0) {
        char* const argv[] = {const_cast<char*>(path), const_cast<char*>(argument), nullptr};
        ::execve(path, argv, environ);
        ::_exit(127);
    }
}

}  // namespace Core_Platform
