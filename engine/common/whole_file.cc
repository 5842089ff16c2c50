#include "common/whole_file.h"

#include <boost/system/system_error.hpp>
#include <cerrno>
#include <chrono>
#include <exception>

#include "common/file.h"
#include "platform/file_ops.h"
#include "platform/random.h"
#include "platform/strings.h"

namespace Core_Common {
namespace {

using Core_Platform::path_kind;
using Core_Platform::path_kind_enum;

path_kind_enum kind_of(std::u16string_view path) {
    return path_kind(Core_Platform::wide_to_utf8(path));
}

// The parent of a path ("" when it has none), ignoring trailing '/'.
template <class String>
String parent_of(String path) {
    using Char = typename String::value_type;
    while (path.size() > 1 && path.back() == Char('/')) path.pop_back();
    const std::size_t slash = path.rfind(Char('/'));
    if (slash == String::npos) return {};
    if (slash == 0) return String(1, Char('/'));
    return path.substr(0, slash);
}

// Keeps errno across clean-up calls, so the caller sees the first failure.
class errno_keeper {
public:
    errno_keeper() : m_saved(errno) {}
    ~errno_keeper() { errno = m_saved; }
    errno_keeper(const errno_keeper&) = delete;
    errno_keeper& operator=(const errno_keeper&) = delete;

private:
    int m_saved;
};

template <class Bytes>
bool read_into(std::u16string_view path, Bytes& out) {
    if (kind_of(path) != path_kind_enum::regular) {
        errno = ENOENT;
        return false;
    }
    try {
        file_t file;
        file.open(path, true);
        Bytes data;
        data.resize(static_cast<std::size_t>(file.get_length()));
        // A read may return fewer bytes than asked; keep going to the end, and
        // keep only what the file really held if it shrank meanwhile.
        std::size_t done = 0;
        while (done < data.size()) {
            const std::size_t got = file.read(data.data() + done, data.size() - done);
            if (got == 0) break;
            done += got;
        }
        data.resize(done);
        file.close();
        out = std::move(data);
        return true;
    } catch (const boost::system::system_error& e) {
        errno = e.code().value();
        return false;
    } catch (const std::exception&) {
        errno = ENOMEM;
        return false;
    }
}

void write_all(file_t& file, const char* data, std::size_t size) {
    std::size_t done = 0;
    while (done < size) {
        const std::size_t put = file.write(data + done, size - done);
        if (put == 0) {
            throw boost::system::system_error(
                boost::system::error_code(ENOSPC, boost::system::system_category()));
        }
        done += put;
    }
}

bool append_in_place(std::u16string_view path, const char* data, std::size_t size) {
    try {
        file_t file;
        file.open(path, false);
        file.seek_to_end();
        write_all(file, data, size);
        file.close();
        return true;
    } catch (const boost::system::system_error& e) {
        errno = e.code().value();
        return false;
    }
}

constexpr char16_t kTemporaryInfix[] = u".tmp-";
constexpr std::size_t kTemporaryTagDigits = 12;
constexpr unsigned kPrivateFileMode = 0600;
constexpr unsigned kPrivateDirectoryMode = 0700;
// A temporary file younger than this may belong to a writer that has created
// it and not yet taken its lock.
constexpr std::chrono::seconds kStaleAge{5};

// A fresh name beside `target`; built on the wide form so that it converts
// to exactly the target's native name plus an ASCII suffix.
std::u16string temporary_name(std::u16string_view target) {
    unsigned char tag[kTemporaryTagDigits / 2];
    Core_Platform::system_random(tag, sizeof tag);
    std::u16string name(target);
    name += kTemporaryInfix;
    for (char c : Core_Platform::to_hex(tag, sizeof tag)) name.push_back(static_cast<char16_t>(c));
    return name;
}

// Whether `name` is a temporary file name of the file named `base`.
bool is_temporary_of(std::string_view name, std::string_view base) {
    const std::string infix = Core_Platform::wide_to_utf8(kTemporaryInfix);
    if (name.size() != base.size() + infix.size() + kTemporaryTagDigits) return false;
    if (name.substr(0, base.size()) != base || name.substr(base.size(), infix.size()) != infix) {
        return false;
    }
    for (char c : name.substr(base.size() + infix.size())) {
        if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'))) return false;
    }
    return true;
}

// `mode`: the permission bits of a new file less the umask, or with
// `exact_mode` exactly those bits.
bool replace_atomically(std::u16string_view path, const char* data, std::size_t size,
                        unsigned new_mode, bool exact_mode) {
    const std::string target = Core_Platform::wide_to_utf8(path);
    if (target.empty() || Core_Platform::path_kind(target) == path_kind_enum::directory) {
        errno = target.empty() ? ENOENT : EISDIR;
        return false;
    }
    remove_stale_temporaries(path);
    const unsigned mode = exact_mode ? new_mode : Core_Platform::path_mode(target, new_mode);
    std::string temporary;
    bool created = false;
    try {
        file_t file;
        for (int attempt = 0;; ++attempt) {
            const std::u16string temporary_wide = temporary_name(path);
            temporary = Core_Platform::wide_to_utf8(temporary_wide);
            try {
                file.create_new(temporary_wide, mode);
                break;
            } catch (const boost::system::system_error& e) {
                if (e.code().value() != EEXIST || attempt == 8) throw;
            }
        }
        created = true;
        // The lock tells later writers that this temporary file is alive.
        if (Core_Platform::file_lock(file.handle(), true, false) != 0 ||
            (exact_mode && Core_Platform::file_set_mode(file.handle(), mode) != 0)) {
            throw boost::system::system_error(
                boost::system::error_code(errno, boost::system::system_category()));
        }
        write_all(file, data, size);
        file.sync();
        file.close();
        if (Core_Platform::file_rename(temporary, target) != 0) {
            throw boost::system::system_error(
                boost::system::error_code(errno, boost::system::system_category()));
        }
        created = false;  // the temporary file is the target now
        std::string directory = parent_of(target);
        if (directory.empty()) directory = ".";
        // The new content is in place and is what every reader sees; a
        // failed flush of the directory cannot undo that, so it is no
        // failure of the write (only the rename's durability is weaker).
        errno_keeper keep;
        Core_Platform::directory_sync(directory);
        return true;
    } catch (const boost::system::system_error& e) {
        errno = e.code().value();
        if (created) {
            errno_keeper keep;
            Core_Platform::file_unlink(temporary);
        }
        return false;
    }
}

bool write_bytes(std::u16string_view path, const char* data, std::size_t size, bool append) {
    return append ? append_in_place(path, data, size)
                  : replace_atomically(path, data, size, 0666, false);
}

bool create_directories_with(std::u16string_view path, unsigned mode, bool exact_mode) {
    const std::string native = Core_Platform::wide_to_utf8(path);
    if (native.empty()) {
        errno = ENOENT;
        return false;
    }
    if (path_kind(native) == path_kind_enum::directory) return true;
    const std::u16string parent = parent_of(std::u16string(path));
    if (!parent.empty() && parent != path && !create_directories_with(parent, mode, exact_mode)) {
        return false;
    }
    if (Core_Platform::directory_create(native, mode) == 0) {
        return !exact_mode || Core_Platform::path_set_mode(native, mode) == 0;
    }
    // Another thread or process may have created it meanwhile.
    return errno == EEXIST && path_kind(native) == path_kind_enum::directory;
}

}  // namespace

bool is_directory(std::u16string_view path) { return kind_of(path) == path_kind_enum::directory; }

bool is_regular_file(std::u16string_view path) { return kind_of(path) == path_kind_enum::regular; }

bool file_stamp(std::u16string_view path, file_stamp_t& out) {
    return Core_Platform::path_stamp(Core_Platform::wide_to_utf8(path), out);
}

bool create_directory(std::u16string_view path) {
    const std::string native = Core_Platform::wide_to_utf8(path);
    if (native.empty()) {
        errno = ENOENT;
        return false;
    }
    if (path_kind(native) == path_kind_enum::directory) return true;
    if (Core_Platform::directory_create(native) == 0) return true;
    // Another thread or process may have created it meanwhile.
    return errno == EEXIST && path_kind(native) == path_kind_enum::directory;
}

bool create_directories(std::u16string_view path) {
    return create_directories_with(path, 0700, false);
}

bool create_private_directories(std::u16string_view path) {
    return create_directories_with(path, kPrivateDirectoryMode, true);
}

bool remove_file(std::u16string_view path) {
    const std::string native = Core_Platform::wide_to_utf8(path);
    if (path_kind(native) != path_kind_enum::regular) return true;
    return Core_Platform::file_unlink(native) == 0 || errno == ENOENT;
}

bool read_whole_file(std::u16string_view path, std::string& out) { return read_into(path, out); }

bool read_whole_file(std::u16string_view path, std::vector<std::uint8_t>& out) {
    return read_into(path, out);
}

bool write_whole_file(std::u16string_view path, std::string_view bytes, bool append) {
    return write_bytes(path, bytes.data(), bytes.size(), append);
}

bool write_whole_file(std::u16string_view path, const std::vector<std::uint8_t>& bytes,
                      bool append) {
    return write_bytes(path, reinterpret_cast<const char*>(bytes.data()), bytes.size(), append);
}

bool write_private_file(std::u16string_view path, std::string_view bytes) {
    return replace_atomically(path, bytes.data(), bytes.size(), kPrivateFileMode, true);
}

int remove_stale_temporaries(std::u16string_view path) {
    errno_keeper keep;
    const std::string target = Core_Platform::wide_to_utf8(path);
    if (target.empty()) return 0;
    std::string directory = parent_of(target);
    const std::size_t slash = target.rfind('/');
    const std::string base = slash == std::string::npos ? target : target.substr(slash + 1);
    if (directory.empty()) directory = ".";
    std::vector<std::string> names;
    if (base.empty() || !Core_Platform::directory_names(directory, names)) return 0;
    const auto now = std::chrono::system_clock::now().time_since_epoch();
    int removed = 0;
    for (const std::string& name : names) {
        if (!is_temporary_of(name, base)) continue;
        const std::string temporary = directory + "/" + name;
        Core_Platform::path_stamp_t stamp;
        if (!Core_Platform::path_stamp(temporary, stamp) ||
            now - std::chrono::nanoseconds(stamp.modified_ns) < kStaleAge) {
            continue;
        }
        const int fd = Core_Platform::file_open(temporary, true);
        if (fd < 0) continue;
        // Held by a live writer: not stale.
        if (Core_Platform::file_lock(fd, true, false) == 0 &&
            Core_Platform::file_unlink(temporary) == 0) {
            ++removed;
        }
        Core_Platform::file_close(fd);
    }
    return removed;
}

}  // namespace Core_Common
