#include "platform/threads.h"

#include <pthread.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>

namespace Core_Platform {

std::uint32_t current_thread_id() {
    // Asked once per thread: owner checks run on every timer operation.
    thread_local const auto id = static_cast<std::uint32_t>(::syscall(SYS_gettid));
    return id;
}

int nice_for_thread_level(int level) {
    switch (level) {
        case THREAD_LEVEL_ABOVE_NORMAL:
            return -5;
        case THREAD_LEVEL_NORMAL:
            return 0;
        case THREAD_LEVEL_BELOW_NORMAL:
            return 5;
        case THREAD_LEVEL_IDLE:
            return 19;
        default:
            return 0;
    }
}

bool set_current_thread_level(int level) {
    // On Linux the nice value belongs to the thread when addressed by its tid.
    const int nice = nice_for_thread_level(level);
    const auto tid = static_cast<id_t>(::syscall(SYS_gettid));
    if (::setpriority(PRIO_PROCESS, tid, nice) == 0) return true;
    // EPERM/EACCES: raising the priority needs a privilege; keep the old one.
    return false;
}

int current_thread_nice() {
    const auto tid = static_cast<id_t>(::syscall(SYS_gettid));
    errno = 0;
    return ::getpriority(PRIO_PROCESS, tid);
}

void set_current_thread_name(std::string_view name) {
    char buffer[16];
    const std::size_t n = name.size() < 15 ? name.size() : 15;
    name.copy(buffer, n);
    buffer[n] = '\0';
    ::pthread_setname_np(::pthread_self(), buffer);
}

std::string current_thread_name() {
    char buffer[16] = {};
    if (::pthread_getname_np(::pthread_self(), buffer, sizeof buffer) != 0) return {};
    return buffer;
}

}  // namespace Core_Platform
