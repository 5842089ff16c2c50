#include "data_directory.h"

#include <cerrno>
#include <cstring>

#include "platform/environment.h"
#include "platform/file_ops.h"
#include "platform/random.h"
#include "platform/strings.h"

namespace Zorvane_Cli {
namespace {

bool kept_as_is(unsigned char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '.' ||
           c == '_' || c == ':' || c == '[' || c == ']' || c == '-';
}

void append_escaped(const std::string& text, std::string& out) {
    static const char kHex[] = "0123456789ABCDEF";
    for (const char ch : text) {
        const auto c = static_cast<unsigned char>(ch);
        if (kept_as_is(c) && !(c == '.' && out.empty())) {
            out += ch;
        } else {
            out += '%';
            out += kHex[c >> 4];
            out += kHex[c & 0x0F];
        }
    }
}

std::string reason(int error) { return std::strerror(error); }

// Creates `path` and its missing parents, mode 0700.
bool create_with_parents(const std::string& path, std::string& error) {
    using Core_Platform::path_kind_enum;
    const path_kind_enum kind = Core_Platform::path_kind(path);
    if (kind == path_kind_enum::directory) return true;
    if (kind != path_kind_enum::missing) {
        error = path + " is not a directory";
        return false;
    }
    const auto slash = path.find_last_of('/');
    if (slash != std::string::npos && slash != 0) {
        if (!create_with_parents(path.substr(0, slash), error)) return false;
    }
    if (Core_Platform::directory_create(path) != 0 && errno != EEXIST) {
        error = "cannot create " + path + ": " + reason(errno);
        return false;
    }
    if (Core_Platform::path_kind(path) != path_kind_enum::directory) {
        error = path + " is not a directory";
        return false;
    }
    return true;
}

}  // namespace

std::string server_or_default(const std::string& given) {
    std::string server = given;
    if (server.empty() &&
        (!Core_Platform::environment_value("ZORVANE_SERVER", server) || server.empty())) {
        server = "localhost";
    }
    if (server.find(':') == std::string::npos) server += ":8080";
    return server;
}

std::string account_directory_name(const std::string& user, const std::string& server) {
    std::string name;
    append_escaped(user, name);
    name += '@';
    append_escaped(server, name);
    return name;
}

std::string default_data_directory(const std::string& user, const std::string& server,
                                   std::string& error) {
    const std::string base = Core_Platform::user_data_home();
    if (base.empty()) {
        error = "no home directory is known for the default data directory; give --data-dir DIR";
        return std::string();
    }
    return base + "/zorvane/" + account_directory_name(user, server);
}

bool prepare_data_directory(const std::string& given, std::string& error) {
    std::string path = given;
    while (path.size() > 1 && path.back() == '/') path.pop_back();
    if (path.empty()) {
        error = "the data directory is empty";
        return false;
    }
    if (std::string why; !create_with_parents(path, why)) {
        error = "cannot create the data directory " + path + " (" + why + ")";
        return false;
    }
    // Permission bits do not tell (a read-only file system, or root): a file
    // made and removed again does.
    unsigned char salt[6];
    Core_Platform::system_random(salt, sizeof salt);
    const std::string probe =
        path + "/.zorvane-write-check-" + Core_Platform::to_hex(salt, sizeof salt);
    const int fd = Core_Platform::file_create_new(probe, 0600);
    if (fd < 0) {
        error = "cannot write in the data directory " + path + ": " + reason(errno);
        return false;
    }
    Core_Platform::file_close(fd);
    Core_Platform::file_unlink(probe);
    return true;
}

}  // namespace Zorvane_Cli
