// Public engine surface: a minimal read-write file for writers that append
// text and must never raise (the log's file sink).
//
// Paths are the operating system's narrow bytes (UTF-8 here). A plain_file
// is not thread-safe: its owner serialises calls.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace Core_Platform {

class plain_file {
public:
    plain_file() = default;
    plain_file(const plain_file&) = delete;
    plain_file& operator=(const plain_file&) = delete;
    // Closes the file if open.
    ~plain_file();

    // Closes any open file, then opens `path` for reading and writing,
    // creating it when missing (mode 0644 before the umask); an existing
    // file keeps its bytes unless `truncate` is set, which empties it. The
    // position starts at 0. Returns false, leaving the object closed, on
    // failure; `error()` then holds the errno value.
    bool open_read_write(const std::string& path, bool truncate = false);
    // Closes the file; closing a closed file does nothing.
    void close();
    bool is_open() const { return m_fd >= 0; }

    // Writes all `size` bytes at the current position, which advances by
    // the bytes written. Returns false on failure (some bytes may have been
    // written) or when closed.
    bool write(const void* data, std::size_t size);
    // The current position (bytes from the start), or 0 when closed or on
    // failure.
    std::uint64_t position() const;

    // The errno value of the last failed call of this object; 0 if none.
    int error() const { return m_error; }

private:
    int m_fd = -1;
    int m_error = 0;
};

// True when `path` names an existing regular file (symbolic links are
// followed).
bool is_regular_file(const std::string& path);
// Removes the file at `path`. Returns false when nothing was removed.
bool remove_file(const std::string& path);

}  // namespace Core_Platform
