#include "platform/file_ops.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <mutex>

#include "platform/file_faults.h"

namespace Core_Platform {
namespace {

enum class op_enum { open, write, fsync, rename };

struct fault_state_t {
    std::mutex lock;
    file_faults_t plan;
    int opens = 0, writes = 0, fsyncs = 0, renames = 0;
};

std::atomic<bool> g_faults_active{false};

fault_state_t& faults() {
    static fault_state_t state;
    return state;
}

// True when the plan says this call fails; sets errno then.
bool injected_failure(op_enum op) {
    if (!g_faults_active.load(std::memory_order_relaxed)) return false;
    fault_state_t& f = faults();
    std::lock_guard<std::mutex> guard(f.lock);
    int at = 0, count = 0;
    switch (op) {
        case op_enum::open:
            count = ++f.opens, at = f.plan.fail_open_at;
            break;
        case op_enum::fsync:
            count = ++f.fsyncs, at = f.plan.fail_fsync_at;
            break;
        case op_enum::rename:
            count = ++f.renames, at = f.plan.fail_rename_at;
            break;
        case op_enum::write:
            count = ++f.writes, at = f.plan.fail_write_at;
            break;
    }
    if (at != 0 && count == at) {
        errno = f.plan.error;
        return true;
    }
    return false;
}

template <class Call>
auto retry_on_eintr(Call call) {
    for (;;) {
        auto result = call();
        if (result == -1 && errno == EINTR) continue;
        return result;
    }
}

ssize_t raw_write(int fd, const void* buffer, std::size_t count) {
    return retry_on_eintr([&] { return ::write(fd, buffer, count); });
}

}  // namespace

int file_open(const std::string& path, bool read_only) {
    if (injected_failure(op_enum::open)) return -1;
    const int flags = read_only ? O_RDONLY : (O_RDWR | O_CREAT);
    return retry_on_eintr([&] { return ::open(path.c_str(), flags | O_CLOEXEC, 0666); });
}

bool file_try_lock(int fd) {
    return retry_on_eintr([&] { return ::flock(fd, LOCK_EX | LOCK_NB); }) == 0;
}

int file_create_new(const std::string& path, unsigned mode) {
    if (injected_failure(op_enum::open)) return -1;
    return retry_on_eintr([&] {
        return ::open(path.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC,
                      static_cast<mode_t>(mode));
    });
}

int file_close(int fd) {
    // Linux releases the descriptor even when close reports EINTR: never retry.
    return ::close(fd);
}

ssize_t file_read(int fd, void* buffer, std::size_t count) {
    return retry_on_eintr([&] { return ::read(fd, buffer, count); });
}

ssize_t file_write(int fd, const void* buffer, std::size_t count) {
    if (!g_faults_active.load(std::memory_order_relaxed)) return raw_write(fd, buffer, count);

    std::size_t allowed = count;
    bool fail_after = false;
    int error = 0;
    {
        fault_state_t& f = faults();
        std::lock_guard<std::mutex> guard(f.lock);
        ++f.writes;
        if (f.plan.fail_write_at != 0 && f.writes == f.plan.fail_write_at) {
            allowed = count / 2;
            fail_after = true;
            error = f.plan.error;
        }
        if (f.plan.disk_space >= 0) {
            const auto space = static_cast<std::size_t>(f.plan.disk_space);
            if (space == 0 && count > 0) {
                errno = ENOSPC;
                return -1;
            }
            if (allowed > space) allowed = space;
            f.plan.disk_space -= static_cast<std::int64_t>(allowed);
        }
    }
    ssize_t written = allowed > 0 ? raw_write(fd, buffer, allowed) : 0;
    if (fail_after) {
        errno = error;
        return -1;
    }
    return written;
}

int file_fsync(int fd) {
    if (injected_failure(op_enum::fsync)) return -1;
    return retry_on_eintr([&] { return ::fsync(fd); });
}

std::int64_t file_seek(int fd, std::int64_t offset, int whence) {
    return ::lseek(fd, static_cast<off_t>(offset), whence);
}

int file_truncate(int fd, std::uint64_t length) {
    return retry_on_eintr([&] { return ::ftruncate(fd, static_cast<off_t>(length)); });
}

std::int64_t file_size(int fd) {
    struct stat st;
    if (::fstat(fd, &st) != 0) return -1;
    return static_cast<std::int64_t>(st.st_size);
}

int file_rename(const std::string& from, const std::string& to) {
    if (injected_failure(op_enum::rename)) return -1;
    return ::rename(from.c_str(), to.c_str());
}

int file_unlink(const std::string& path) { return ::unlink(path.c_str()); }

int directory_sync(const std::string& path) {
    if (injected_failure(op_enum::fsync)) return -1;
    const int fd =
        retry_on_eintr([&] { return ::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC); });
    if (fd < 0) return -1;
    const int result = retry_on_eintr([&] { return ::fsync(fd); });
    const int saved = errno;
    ::close(fd);
    errno = saved;
    return result;
}

int directory_create(const std::string& path, unsigned mode) {
    return ::mkdir(path.c_str(), static_cast<mode_t>(mode));
}

bool directory_names(const std::string& path, std::vector<std::string>& out) {
    out.clear();
    DIR* dir = ::opendir(path.c_str());
    if (dir == nullptr) return false;
    for (;;) {
        errno = 0;
        const dirent* entry = ::readdir(dir);
        if (entry == nullptr) break;
        const std::string name = entry->d_name;
        if (name != "." && name != "..") out.push_back(name);
    }
    const int saved = errno;
    ::closedir(dir);
    errno = saved;
    return saved == 0;
}

int path_set_mode(const std::string& path, unsigned mode) {
    return ::chmod(path.c_str(), static_cast<mode_t>(mode));
}

int file_set_mode(int fd, unsigned mode) { return ::fchmod(fd, static_cast<mode_t>(mode)); }

int file_lock(int fd, bool exclusive, bool wait) {
    const int operation = (exclusive ? LOCK_EX : LOCK_SH) | (wait ? 0 : LOCK_NB);
    return retry_on_eintr([&] { return ::flock(fd, operation); });
}

path_kind_enum path_kind(const std::string& path) {
    struct stat st;
    if (::stat(path.c_str(), &st) != 0) return path_kind_enum::missing;
    if (S_ISREG(st.st_mode)) return path_kind_enum::regular;
    if (S_ISDIR(st.st_mode)) return path_kind_enum::directory;
    return path_kind_enum::other;
}

unsigned path_mode(const std::string& path, unsigned fallback) {
    struct stat st;
    if (::stat(path.c_str(), &st) != 0) return fallback;
    return static_cast<unsigned>(st.st_mode & 07777);
}

bool path_stamp(const std::string& path, path_stamp_t& out) {
    struct stat st;
    if (::stat(path.c_str(), &st) != 0) return false;
    if (!S_ISREG(st.st_mode)) {
        errno = ENOENT;
        return false;
    }
    out.device = static_cast<std::uint64_t>(st.st_dev);
    out.inode = static_cast<std::uint64_t>(st.st_ino);
    out.size = static_cast<std::uint64_t>(st.st_size);
    out.modified_ns = static_cast<std::int64_t>(st.st_mtim.tv_sec) * 1000000000 +
                      static_cast<std::int64_t>(st.st_mtim.tv_nsec);
    return true;
}

void try_enable_fast_allocation() {}

void set_file_faults(const file_faults_t* plan) {
    fault_state_t& f = faults();
    std::lock_guard<std::mutex> guard(f.lock);
    f.plan = plan != nullptr ? *plan : file_faults_t{};
    f.opens = f.writes = f.fsyncs = f.renames = 0;
    g_faults_active.store(plan != nullptr, std::memory_order_relaxed);
}

}  // namespace Core_Platform
