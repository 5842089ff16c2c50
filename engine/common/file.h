// Public engine surface: one open file of the operating system.
//
// file_t wraps a file descriptor with operations that raise on failure:
// every failing operation throws boost::system::system_error whose code is
// the operating system's errno in the system category (no message text is
// attached). The log sink lets these errors propagate to its own catch; the
// whole-file helpers (common/whole_file.h) turn them into booleans.
//
// Paths are wide strings, converted to UTF-8 for the file system.
//
// Thread rule: a file_t is not synchronised; one thread at a time uses it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace Core_Common {

class file_t {
public:
    // A new file_t is closed.
    file_t() = default;
    // Closes the file; errors of close are ignored here.
    ~file_t();
    file_t(const file_t&) = delete;
    file_t& operator=(const file_t&) = delete;

    // Closes any open file first, then opens `path`. With `read_only` the
    // file must exist and is opened for reading; otherwise it is opened for
    // reading and writing and created (empty) when missing. Others may open
    // the same file at the same time. The first open of the process makes
    // the one attempt to enable fast pre-allocation (a no-op here).
    // Throws on failure; the object is then closed.
    void open(std::u16string_view path, bool read_only);

    // Closes any open file first, then creates `path`, which must not exist
    // yet, and opens it for reading and writing; `mode` gives its permission
    // bits (less the umask). Throws on failure (EEXIST when it exists).
    void create_new(std::u16string_view path, unsigned mode);

    // Closes the file; does nothing when it is closed already.
    void close();

    // One read call of at most `count` bytes; returns the bytes read (0 at
    // the end of the file). A count of 0 does nothing and returns 0.
    std::size_t read(void* buffer, std::size_t count);
    // One write call of at most `count` bytes; returns the bytes written,
    // which may be fewer than `count`. A count of 0 does nothing.
    std::size_t write(const void* buffer, std::size_t count);
    // Flushes the file's data and size to the disk (fsync).
    void sync();

    // The current position.
    std::uint64_t tell();
    // Moves the position to the end of the file (for appending).
    void seek_to_end();
    // Moves the position to `length` and ends the file there; with 0 the
    // file becomes empty.
    void set_length(std::uint64_t length);
    // The file's size in bytes.
    std::uint64_t get_length();

    bool is_open() const { return m_handle >= 0; }
    // The descriptor, or -1 when closed.
    int handle() const { return m_handle; }
    // The mode of the last open.
    bool read_only() const { return m_read_only; }

private:
    int checked_handle() const;

    int m_handle = -1;
    bool m_read_only = false;
};

}  // namespace Core_Common
