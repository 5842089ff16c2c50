// Public engine surface: the system calls of a crash report.
//
// Every function here is async-signal-safe (plain system calls, no heap, no
// locks), so a report can be written from a signal handler, except
// prepare_memory_probe, which runs ahead of time.
#pragma once

#include <cstddef>
#include <cstdint>

namespace Core_Platform {

// Creates (or truncates) `name` for writing, synchronously written through,
// relative to the current directory, readable and writable by the user
// alone (0600); the descriptor or -1. Fails, writing nothing, when `name` is
// a symbolic link, not a regular file, another user's file, or a file with
// other links to it.
int create_report_file(const char* name);
// Writes all of `data`; false when the system refuses part of it.
bool write_fully(int fd, const void* data, std::size_t size);
void close_file(int fd);

// Writes a text to the diagnostic output (the standard error stream).
void write_debug_output(const char* text);

// Makes read_memory_byte work (it needs a pipe). Returns false when it
// cannot; read_memory_byte then fails for every address.
bool prepare_memory_probe();
// Reads one byte of the process's memory without faulting: false when the
// address is not readable.
bool read_memory_byte(std::uintptr_t address, std::uint8_t& out);

// The path of the file mapped at `address` (an executable or library, from
// the process's memory map), terminated in `out`; false when the address is
// not in a file mapping or the map cannot be read.
bool module_path_of(std::uintptr_t address, char* out, std::size_t capacity);

// True when `path` is an executable file.
bool executable_exists(const char* path);

// Starts `path` with the arguments `path` and `argument` and the process's
// environment and current directory, without waiting for it. Failures are
// ignored.
void start_detached(const char* path, const char* argument);

}  // namespace Core_Platform
