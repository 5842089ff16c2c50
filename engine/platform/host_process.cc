#include "platform/host_process.h"

#include <limits.h>
#include <unistd.h>

#include <cstdio>
#include <mutex>
#include <vector>

#include "platform/strings.h"

namespace Core_Platform {
namespace {

std::mutex g_lock;
std::string g_path_override;
message_box_hook_t g_message_box_hook;

bool is_windows_form(std::string_view path) {
    if (path.size() >= 2 && path[1] == ':' &&
        ((path[0] >= 'A' && path[0] <= 'Z') || (path[0] >= 'a' && path[0] <= 'z'))) {
        return true;
    }
    if (path.size() >= 2 && (path[0] == '\\' || path[0] == '/') &&
        (path[1] == '\\' || path[1] == '/')) {
        return true;
    }
    return !path.empty() && path[0] == '\\';
}

std::string read_proc_self_exe() {
    std::vector<char> buffer(PATH_MAX);
    for (;;) {
        ssize_t n = ::readlink("/proc/self/exe", buffer.data(), buffer.size());
        if (n < 0) {
            return std::string();
        }
        if (static_cast<std::size_t>(n) < buffer.size()) {
            return std::string(buffer.data(), static_cast<std::size_t>(n));
        }
        buffer.resize(buffer.size() * 2);  // the link was cut: try again larger
    }
}

}  // namespace

std::string host_executable_path() {
    {
        std::lock_guard<std::mutex> hold(g_lock);
        if (!g_path_override.empty()) {
            return g_path_override;
        }
    }
    return read_proc_self_exe();
}

void override_host_executable_path(std::string path) {
    std::lock_guard<std::mutex> hold(g_lock);
    g_path_override = std::move(path);
}

std::string log_path_for_executable(std::string_view executable_path) {
    if (executable_path.empty()) {
        return std::string();
    }
    const bool windows = is_windows_form(executable_path);
    std::string path(executable_path);

    // The final component starts after the last separator of the path's form.
    const std::string_view separators = windows ? std::string_view("\\/") : std::string_view("/");
    std::size_t name_start = path.find_last_of(separators);
    name_start = (name_start == std::string::npos) ? 0 : name_start + 1;
    if (windows && name_start == 0 && path.size() >= 2 && path[1] == ':') {
        name_start = 2;  // "C:browser.exe"
    }
    std::size_t dot = path.find_last_of('.');
    if (dot != std::string::npos && dot > name_start) {
        path.erase(dot);
    }
    path += ".log";

    if (windows) {
        for (char& c : path) {
            if (c == '/') {
                c = '\\';
            }
        }
        static constexpr std::string_view unc_prefix = "\\\\?\\UNC\\";
        static constexpr std::string_view long_prefix = "\\\\?\\";
        if (path.compare(0, unc_prefix.size(), unc_prefix) == 0) {
            path.replace(0, unc_prefix.size(), "\\\\");
        } else if (path.compare(0, long_prefix.size(), long_prefix) == 0) {
            path.erase(0, long_prefix.size());
        }
    }
    return path;
}

void show_message_box(std::u16string_view text) {
    std::string line = wide_to_utf8(text);
    line += '\n';
    std::fwrite(line.data(), 1, line.size(), stderr);
    std::fflush(stderr);

    message_box_hook_t hook;
    {
        std::lock_guard<std::mutex> hold(g_lock);
        hook = g_message_box_hook;
    }
    if (hook) {
        hook(text);
    }
}

void set_message_box_hook(message_box_hook_t hook) {
    std::lock_guard<std::mutex> hold(g_lock);
    g_message_box_hook = std::move(hook);
}

}  // namespace Core_Platform
