#include "platform/environment.h"

#include <pwd.h>
#include <unistd.h>

#include <cstdlib>
#include <vector>

namespace Core_Platform {

bool environment_value(const std::string& name, std::string& value) {
    if (name.empty() || name.find('=') != std::string::npos) return false;
    const char* found = std::getenv(name.c_str());
    if (found == nullptr) return false;
    value = found;
    return true;
}

bool set_environment_value(const std::string& name, const std::string& value) {
    if (name.empty() || name.find('=') != std::string::npos) return false;
    return ::setenv(name.c_str(), value.c_str(), 1) == 0;
}

std::string home_directory() {
    std::string home;
    if (environment_value("HOME", home) && !home.empty() && home.front() == '/') return home;
    long size = ::sysconf(_SC_GETPW_R_SIZE_MAX);
    std::vector<char> buffer(size > 0 ? static_cast<std::size_t>(size) : 16384);
    struct passwd entry;
    struct passwd* found = nullptr;
    if (::getpwuid_r(::getuid(), &entry, buffer.data(), buffer.size(), &found) != 0 ||
        found == nullptr || found->pw_dir == nullptr || found->pw_dir[0] != '/') {
        return std::string();
    }
    return found->pw_dir;
}

std::string user_data_home() {
    std::string data;
    if (environment_value("XDG_DATA_HOME", data) && !data.empty() && data.front() == '/') {
        return data;
    }
    const std::string home = home_directory();
    if (home.empty()) return std::string();
    return (home == "/" ? std::string() : home) + "/.local/share";
}

}  // namespace Core_Platform
