#include "platform/system_facts.h"

#include <fcntl.h>
#include <pwd.h>
#include <sys/resource.h>
#include <sys/sysinfo.h>
#include <sys/utsname.h>
#include <time.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace Core_Platform {
namespace {

void copy_text(char* dest, std::size_t capacity, const char* src) {
    std::size_t n = 0;
    while (src != nullptr && src[n] != '\0' && n + 1 < capacity) {
        dest[n] = src[n];
        ++n;
    }
    dest[n] = '\0';
}

// Reads a small file whole into `buffer` (terminated); the byte count or -1.
long read_small_file(const char* path, char* buffer, std::size_t capacity) {
    const int fd = ::open(path, O_RDONLY | O_CLOEXEC);
    if (fd < 0) return -1;
    std::size_t used = 0;
    while (used + 1 < capacity) {
        const ssize_t n = ::read(fd, buffer + used, capacity - 1 - used);
        if (n <= 0) break;
        used += static_cast<std::size_t>(n);
    }
    ::close(fd);
    buffer[used] = '\0';
    return static_cast<long>(used);
}

// The process's start time in clock ticks after boot (field 22 of
// /proc/self/stat), or -1.
long long process_start_ticks() {
    char stat[1024];
    if (read_small_file("/proc/self/stat", stat, sizeof stat) <= 0) return -1;
    // The command name (field 2) may hold spaces; count from its closing ')'.
    const char* p = std::strrchr(stat, ')');
    if (p == nullptr) return -1;
    int field = 2;
    while (*p != '\0' && field < 22) {
        if (*p == ' ') ++field;
        ++p;
    }
    if (field != 22) return -1;
    char* end = nullptr;
    const long long ticks = std::strtoll(p, &end, 10);
    return end != p ? ticks : -1;
}

}  // namespace

void read_host_facts(host_facts_t& out) {
    out = host_facts_t{};
    const ssize_t n = ::readlink("/proc/self/exe", out.exe_path, sizeof out.exe_path - 1);
    if (n > 0) {
        out.exe_path[n] = '\0';
    } else {
        copy_text(out.exe_path, sizeof out.exe_path, "Unknown");
    }

    struct passwd entry;
    struct passwd* found = nullptr;
    char buffer[4096];
    if (::getpwuid_r(::getuid(), &entry, buffer, sizeof buffer, &found) == 0 && found != nullptr &&
        found->pw_name != nullptr) {
        copy_text(out.user_name, sizeof out.user_name, found->pw_name);
    } else if (const char* env = std::getenv("USER"); env != nullptr && *env != '\0') {
        copy_text(out.user_name, sizeof out.user_name, env);
    } else {
        copy_text(out.user_name, sizeof out.user_name, "Unknown");
    }

    struct utsname names;
    if (::uname(&names) == 0) {
        const bool is64 = std::strcmp(names.machine, "x86_64") == 0 ||
                          std::strcmp(names.machine, "aarch64") == 0 ||
                          std::strcmp(names.machine, "ppc64le") == 0 ||
                          std::strcmp(names.machine, "s390x") == 0 ||
                          std::strcmp(names.machine, "riscv64") == 0;
        const bool is32 = names.machine[0] == 'i' && std::strcmp(names.machine + 2, "86") == 0;
        std::snprintf(out.os_name, sizeof out.os_name, "%s%s", names.sysname,
                      is64 ? " 64-bit" : (is32 ? " 32-bit" : ""));
        copy_text(out.os_version, sizeof out.os_version, names.release);
        out.processor_type = std::strcmp(names.machine, "x86_64") == 0 ? 8664 : (is32 ? 586 : 0);
    } else {
        copy_text(out.os_name, sizeof out.os_name, "Unknown");
    }
    const long cpus = ::sysconf(_SC_NPROCESSORS_ONLN);
    out.processor_count = cpus > 0 ? static_cast<std::int32_t>(cpus) : 1;

    ::tzset();
    const time_t now = ::time(nullptr);
    struct tm local;
    if (::localtime_r(&now, &local) != nullptr) out.utc_offset_seconds = local.tm_gmtoff;

    const long long start_ticks = process_start_ticks();
    const long hz = ::sysconf(_SC_CLK_TCK);
    if (start_ticks >= 0 && hz > 0) out.process_start_boot_ms = start_ticks * 1000 / hz;

    // The user half of the address space: 128 TiB on 64-bit machines, 3 GiB
    // on 32-bit ones, less when a limit says so.
    std::uint64_t space = sizeof(void*) == 8 ? (std::uint64_t{1} << 47) : (std::uint64_t{3} << 30);
    struct rlimit limit;
    if (::getrlimit(RLIMIT_AS, &limit) == 0 && limit.rlim_cur != RLIM_INFINITY &&
        limit.rlim_cur < space) {
        space = limit.rlim_cur;
    }
    out.address_space_bytes = space;
}

bool read_memory_status(std::uint64_t address_space_bytes, memory_status_t& out) {
    out = memory_status_t{};
    struct sysinfo info;
    if (::sysinfo(&info) != 0) return false;
    const std::uint64_t unit = info.mem_unit != 0 ? info.mem_unit : 1;
    out.total_physical = static_cast<std::uint64_t>(info.totalram) * unit;
    out.available_physical =
        (static_cast<std::uint64_t>(info.freeram) + static_cast<std::uint64_t>(info.bufferram)) *
        unit;
    if (out.available_physical > out.total_physical) out.available_physical = out.total_physical;
    out.total_paging = out.total_physical + static_cast<std::uint64_t>(info.totalswap) * unit;
    out.available_paging =
        out.available_physical + static_cast<std::uint64_t>(info.freeswap) * unit;
    out.load_percent =
        out.total_physical == 0
            ? 0
            : static_cast<std::uint32_t>((out.total_physical - out.available_physical) * 100 /
                                         out.total_physical);
    out.total_virtual = address_space_bytes;
    out.available_virtual = address_space_bytes;
    char statm[256];
    if (read_small_file("/proc/self/statm", statm, sizeof statm) > 0) {
        std::uint64_t pages = 0;
        for (const char* p = statm; *p >= '0' && *p <= '9'; ++p) pages = pages * 10 + (*p - '0');
        const long page_size = ::sysconf(_SC_PAGESIZE);
        const std::uint64_t mapped =
            pages * static_cast<std::uint64_t>(page_size > 0 ? page_size : 4096);
        out.available_virtual = mapped < address_space_bytes ? address_space_bytes - mapped : 0;
    }
    return true;
}

std::int64_t realtime_seconds() {
    struct timespec ts;
    if (::clock_gettime(CLOCK_REALTIME, &ts) != 0) return 0;
    return ts.tv_sec;
}

std::int64_t boot_clock_ms() {
    struct timespec ts;
    if (::clock_gettime(CLOCK_BOOTTIME, &ts) != 0) return 0;
    return static_cast<std::int64_t>(ts.tv_sec) * 1000 + ts.tv_nsec / 1000000;
}

}  // namespace Core_Platform
