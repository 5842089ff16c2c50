// Public engine surface: a program's standard streams as a byte pipe, for a
// host that speaks a framed protocol over them (the browsers' native
// messaging).
//
// Failures are reported the POSIX way (-1 or false, errno holds the reason);
// interrupted calls are retried. Thread-safe, though a program normally
// drives its streams from one thread.
#pragma once

#include <sys/types.h>

#include <cstddef>
#include <string_view>

namespace Core_Platform {

// Keeps standard output for the caller alone: returns a new descriptor of
// what standard output was, and points standard output at standard error,
// so a stray write by any library lands in the log, not in the protocol.
// -1 on failure (standard output is then unchanged).
int take_standard_output();

// Writing to a pipe whose reader has gone fails with EPIPE instead of
// ending the process.
void ignore_broken_pipes();

// Waits until standard input has bytes (or its end) to read: 1 when it has,
// 0 when `timeout_ms` passed or a signal came first, -1 on failure.
// `timeout_ms` < 0 waits without limit.
int wait_for_standard_input(int timeout_ms);

// read(2) of standard input: the bytes read, 0 at its end, -1 on failure.
ssize_t read_standard_input(void* buffer, std::size_t count);

// Writes all of `bytes` to `fd`; false (errno set) when the descriptor
// refuses them, a reader that went included.
bool write_all(int fd, std::string_view bytes);

}  // namespace Core_Platform
