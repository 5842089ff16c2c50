#include "common/file.h"

#include <atomic>
#include <boost/system/system_error.hpp>
#include <cerrno>
#include <cstdio>

#include "platform/file_ops.h"
#include "platform/strings.h"

namespace Core_Common {
namespace {

[[noreturn]] void raise_errno(int error) {
    throw boost::system::system_error(
        boost::system::error_code(error, boost::system::system_category()));
}

[[noreturn]] void raise_last_error() { raise_errno(errno); }

// Set before the attempt, so a failed attempt is not repeated.
std::atomic<bool> g_fast_allocation_tried{false};

void fast_allocate() {
    if (g_fast_allocation_tried.exchange(true)) return;
    try {
        Core_Platform::try_enable_fast_allocation();
    } catch (...) {
        // Pre-allocation is an optimisation; the file opens without it.
    }
}

}  // namespace

file_t::~file_t() {
    if (m_handle >= 0) Core_Platform::file_close(m_handle);
}

void file_t::open(std::u16string_view path, bool read_only) {
    close();
    fast_allocate();
    const std::string native = Core_Platform::wide_to_utf8(path);
    if (native.empty()) raise_errno(ENOENT);
    const int fd = Core_Platform::file_open(native, read_only);
    if (fd < 0) raise_last_error();
    m_handle = fd;
    m_read_only = read_only;
}

void file_t::create_new(std::u16string_view path, unsigned mode) {
    close();
    fast_allocate();
    const std::string native = Core_Platform::wide_to_utf8(path);
    if (native.empty()) raise_errno(ENOENT);
    const int fd = Core_Platform::file_create_new(native, mode);
    if (fd < 0) raise_last_error();
    m_handle = fd;
    m_read_only = false;
}

void file_t::close() {
    if (m_handle < 0) return;
    const int fd = m_handle;
    m_handle = -1;
    if (Core_Platform::file_close(fd) != 0 && errno != EINTR) raise_last_error();
}

int file_t::checked_handle() const {
    if (m_handle < 0) raise_errno(EBADF);
    return m_handle;
}

std::size_t file_t::read(void* buffer, std::size_t count) {
    if (count == 0) return 0;
    const ssize_t got = Core_Platform::file_read(checked_handle(), buffer, count);
    if (got < 0) raise_last_error();
    return static_cast<std::size_t>(got);
}

std::size_t file_t::write(const void* buffer, std::size_t count) {
    if (count == 0) return 0;
    const ssize_t put = Core_Platform::file_write(checked_handle(), buffer, count);
    if (put < 0) raise_last_error();
    return static_cast<std::size_t>(put);
}

void file_t::sync() {
    if (Core_Platform::file_fsync(checked_handle()) != 0) raise_last_error();
}

std::uint64_t file_t::tell() {
    const std::int64_t pos = Core_Platform::file_seek(checked_handle(), 0, SEEK_CUR);
    if (pos < 0) raise_last_error();
    return static_cast<std::uint64_t>(pos);
}

void file_t::seek_to_end() {
    if (Core_Platform::file_seek(checked_handle(), 0, SEEK_END) < 0) raise_last_error();
}

void file_t::set_length(std::uint64_t length) {
    const int fd = checked_handle();
    if (Core_Platform::file_seek(fd, static_cast<std::int64_t>(length), SEEK_SET) < 0)
        raise_last_error();
    if (Core_Platform::file_truncate(fd, length) != 0) raise_last_error();
}

std::uint64_t file_t::get_length() {
    const std::int64_t size = Core_Platform::file_size(checked_handle());
    if (size < 0) raise_last_error();
    return static_cast<std::uint64_t>(size);
}

}  // namespace Core_Common
