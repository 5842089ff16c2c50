// Internal to the engine (used by common/file.h and common/whole_file.h):
// the raw file calls of the operating system, in one place.
//
// Every function is a thin wrapper of one POSIX call on a UTF-8 path or a
// file descriptor. Failures are reported the POSIX way: the function returns
// -1 (or false) and errno holds the reason; nothing here throws. Calls that
// are interrupted by a signal are retried.
//
// Fault injection: tests can make the Nth open, write, fsync or rename fail,
// make a write stop half-way, or give the disk a fixed amount of free space,
// so that the layers above can be checked for crash safety without a real
// failing disk. The plan is process-wide (platform/file_faults.h); tests
// install it with scoped_file_faults (platform/file_faults_testing.h). While no plan is installed,
// the wrappers cost one relaxed atomic load.
//
// Thread rule: every function may be called from any thread; the fault plan
// and its counters are guarded by a lock.
#pragma once

#include <sys/types.h>

#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace Core_Platform {

// open(2) with close-on-exec. `read_only`: O_RDONLY, the file must exist.
// Otherwise O_RDWR | O_CREAT with mode 0666 (less the umask).
int file_open(const std::string& path, bool read_only);
// Creates a new file that must not exist yet (O_CREAT | O_EXCL | O_RDWR),
// with `mode` (less the umask). Used for the temporary file of a whole-file
// write.
int file_create_new(const std::string& path, unsigned mode);
// flock(2) LOCK_EX | LOCK_NB: true when this descriptor now holds the
// file's exclusive lock, false when another open file description holds it
// (or on failure). The lock goes with the last descriptor of the open file.
bool file_try_lock(int fd);
// close(2). A failure still releases the descriptor.
int file_close(int fd);
ssize_t file_read(int fd, void* buffer, std::size_t count);
ssize_t file_write(int fd, const void* buffer, std::size_t count);
int file_fsync(int fd);
// lseek(2): returns the new position or -1.
std::int64_t file_seek(int fd, std::int64_t offset, int whence);
int file_truncate(int fd, std::uint64_t length);
// fstat(2) size; -1 on failure.
std::int64_t file_size(int fd);
int file_rename(const std::string& from, const std::string& to);
int file_unlink(const std::string& path);
// Opens the directory, fsyncs it and closes it, so a rename or creation in it
// is durable.
int directory_sync(const std::string& path);
// mkdir(2) with `mode` (less the umask); by default 0700: the directories
// the engine makes hold private files only.
int directory_create(const std::string& path, unsigned mode = 0700);
// The names in a directory, "." and ".." left out, in no particular order.
// False, with errno set, when the directory cannot be read.
bool directory_names(const std::string& path, std::vector<std::string>& out);
// chmod(2) and fchmod(2): the permission bits exactly as given (the umask
// does not apply).
int path_set_mode(const std::string& path, unsigned mode);
int file_set_mode(int fd, unsigned mode);
// flock(2): an advisory lock on the whole file, shared or exclusive, held
// until the descriptor is closed (so also given up when the process dies).
// Without `wait` it fails at once, errno EWOULDBLOCK, while another holds it.
int file_lock(int fd, bool exclusive, bool wait);

// What a path names, following symbolic links.
enum class path_kind_enum { missing, regular, directory, other };
path_kind_enum path_kind(const std::string& path);
// The permission bits of an existing path, or `fallback` when it cannot be
// read.
unsigned path_mode(const std::string& path, unsigned fallback);

// What tells one content of a regular file from another without reading it:
// its inode (a whole-file write installs a new one), size and modification
// time. False, with errno set, when `path` is not an existing regular file.
struct path_stamp_t {
    std::uint64_t device = 0;
    std::uint64_t inode = 0;
    std::uint64_t size = 0;
    std::int64_t modified_ns = 0;
    bool operator==(const path_stamp_t&) const = default;
};
bool path_stamp(const std::string& path, path_stamp_t& out);

// Pre-allocation of file space without zero-filling needs a privilege on
// some systems; POSIX systems have no such privilege, so this does nothing.
// It exists so that the once-per-process attempt of file_t keeps one place.
void try_enable_fast_allocation();

}  // namespace Core_Platform
