// Public engine surface: whole-file helpers and directory tests.
//
// Every helper takes a wide path (converted to UTF-8 for the file system),
// never raises, and reports failure as false; errno then holds the reason.
// The local data files of the engine are always read and written whole
// through these helpers.
//
// Thread rule: callable from any thread; each call uses its own file_t.
// Concurrent writers of the same path each install a complete file; the last
// rename wins.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "platform/file_ops.h"

namespace Core_Common {

// True for an existing directory (a symbolic link to one counts).
bool is_directory(std::u16string_view path);
// True for an existing regular file (a symbolic link to one counts).
bool is_regular_file(std::u16string_view path);
// Creates the directory unless it already is one (true then).
bool create_directory(std::u16string_view path);
// Creates the directory and any missing parents, mode 0700 (less the umask).
// False for an empty path.
bool create_directories(std::u16string_view path);
// The same for private data: every directory it creates gets exactly the
// permission bits 0700, whatever the umask. Directories that exist already
// are left as they are.
bool create_private_directories(std::u16string_view path);
// Removes `path` if it is a regular file; true also when there was nothing
// to remove (missing, or not a regular file).
bool remove_file(std::u16string_view path);

// The identity of a regular file's present content (device, inode, size
// and modification time): two equal stamps of one path mean, short of
// someone forging the time stamps, that the content was not replaced or
// written in between. False, with errno set, when `path` is not an existing
// regular file.
using file_stamp_t = Core_Platform::path_stamp_t;
bool file_stamp(std::u16string_view path, file_stamp_t& out);

// Reads the whole regular file into `out`. A path that is not a regular file
// sets errno to ENOENT and returns false. On failure `out` is left unchanged.
bool read_whole_file(std::u16string_view path, std::string& out);
bool read_whole_file(std::u16string_view path, std::vector<std::uint8_t>& out);

// Replaces the file's content by `bytes`, atomically: the bytes go to a new
// temporary file in the same directory ("<path>.tmp-" and 12 hex digits),
// which is flushed to the disk and then renamed over `path`; the directory is
// flushed last. On any failure before the rename the temporary file is
// removed and `path` keeps its previous content byte for byte (or stays
// missing), and the result is false. Once the rename is done the result is
// true: a failed flush of the directory then cannot bring the old content
// back, and the new content is what every reader sees. An existing file's
// permission bits carry over to the new content. Temporary files of `path`
// that a crashed writer left behind are removed first
// (remove_stale_temporaries).
//
// With `append`, the bytes are instead appended in place to the existing
// file (created when missing); a failure then may leave part of them
// written. The engine's data files never use it.
bool write_whole_file(std::u16string_view path, std::string_view bytes, bool append = false);
bool write_whole_file(std::u16string_view path, const std::vector<std::uint8_t>& bytes,
                      bool append = false);

// write_whole_file (atomic replacement) for private data: the new file, and
// its temporary file from the start, have exactly the permission bits 0600,
// whatever the umask and whatever the old file had.
bool write_private_file(std::u16string_view path, std::string_view bytes);

// Removes the temporary files of `path` (see write_whole_file) whose writer
// is gone: each writer holds a lock on its temporary file until it is
// renamed or removed, so a temporary file that nobody holds and that is more
// than a few seconds old was left by a crash. Returns how many were removed;
// files it cannot examine are left alone.
int remove_stale_temporaries(std::u16string_view path);

}  // namespace Core_Common
