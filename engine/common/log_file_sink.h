// Public engine surface: the log sink that writes lines into a file.
//
// Start-up (startup/framework.h) creates one file sink per process, next
// to the host executable, and adds it to the log dispatcher. Each sink
// starts a fresh file: an existing file at its path is replaced by an empty
// one. When the file has grown past max_size bytes, the next line deletes it
// and starts it again empty, so the file exceeds the limit by at most one
// line and no older content is kept.
//
// Failures never reach the writer: a file that cannot be opened leaves the
// sink closed (lines are dropped for the rest of its life); a failed write
// loses that line.
//
// Thread-safe: on_line may be called from any thread; each call is atomic
// with respect to the others, so lines never interleave.
#pragma once

#include <cstdint>
#include <mutex>
#include <string>

#include "common/log_sink.h"
#include "platform/plain_file.h"

namespace Core_Common {

class InterfaceLogCallbackFile : public InterfaceLogCallback {
public:
    // 10 MiB.
    static constexpr std::uint64_t default_max_size = 10485760;

    // Replaces any regular file at `path` (a wide path) by an empty file and
    // opens it for writing.
    explicit InterfaceLogCallbackFile(const std::u16string& path);
    // The same for a path in the operating system's narrow form.
    explicit InterfaceLogCallbackFile(const std::string& path);
    ~InterfaceLogCallbackFile() override;

    // Writes the bytes of `line` at the end of what this sink wrote; first
    // restarts the file when more than max_size bytes have been written to
    // it. `context` is ignored.
    void on_line(std::int32_t context, const std::string& line) override;

    // True while the file is open (false once opening or a reopen failed).
    bool is_open() const;
    const std::string& path() const { return m_path; }
    std::uint64_t max_size() const { return m_max_size; }

private:
    // Deletes the file at m_path if it is a regular file (failure ignored),
    // then opens it, truncated. Called with m_lock held or from construction.
    void open_fresh();

    mutable std::recursive_mutex m_lock;
    std::string m_path;
    std::uint64_t m_max_size = default_max_size;
    Core_Platform::plain_file m_file;
};

}  // namespace Core_Common
