#include "common/whole_file.h"

#include <boost/system/system_error.hpp>
#include <cerrno>
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

// A fresh name beside `target`; built on the wide form so that it converts
// to exactly the target's native name plus an ASCII suffix.
std::u16string temporary_name(std::u16string_view target) {
    unsigned char tag[6];
    Core_Platform::system_random(tag, sizeof tag);
    std::u16string name(target);
    name += u".tmp-";
    for (char c : Core_Platform::to_hex(tag, sizeof tag)) name.push_back(static_cast<char16_t>(c));
    return name;
}

bool replace_atomically(std::u16string_view path, const char* data, std::size_t size) {
    const std::string target = Core_Platform::wide_to_utf8(path);
    if (target.empty() || Core_Platform::path_kind(target) == path_kind_enum::directory) {
        errno = target.empty() ? ENOENT : EISDIR;
        return false;
    }
    const unsigned mode = Core_Platform::path_mode(target, 0666);
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
        if (Core_Platform::directory_sync(directory) != 0) {
            // The new content is in place but its rename may not survive a
            // power loss; report it, there is no older state to go back to.
            return false;
        }
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
    return append ? append_in_place(path, data, size) : replace_atomically(path, data, size);
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
    const std::string native = Core_Platform::wide_to_utf8(path);
    if (native.empty()) {
        errno = ENOENT;
        return false;
    }
    if (path_kind(native) == path_kind_enum::directory) return true;
    const std::u16string parent = parent_of(std::u16string(path));
    if (!parent.empty() && parent != path && !create_directories(parent)) return false;
    return create_directory(path);
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

}  // namespace Core_Common
