#include "socket/socket_startup.h"

#include <mutex>

namespace Core_Socket {
namespace {

std::mutex g_status_lock;
std::u16string& status_text() {
    static std::u16string text = u"n/a";
    return text;
}

void set_status_text(std::u16string text) {
    std::lock_guard<std::mutex> guard(g_status_lock);
    status_text() = std::move(text);
}

std::u16string version_text(Core_Platform::socket_version_t v) {
    if (v.major >= 0 && v.major <= 9 && v.minor >= 0 && v.minor <= 9) {
        const bool known = (v.major == 1 && v.minor <= 1) || (v.major == 2 && v.minor <= 2);
        if (known) {
            return std::u16string(u" v") + static_cast<char16_t>(u'0' + v.major) + u'.' +
                   static_cast<char16_t>(u'0' + v.minor);
        }
    }
    return u" vx.x";
}

}  // namespace

std::u16string winsock_status_text() {
    std::lock_guard<std::mutex> guard(g_status_lock);
    return status_text();
}

void socket_startup() {
    Core_Platform::socket_version_t obtained;
    const bool started = Core_Platform::socket_startup(obtained);
    apply_socket_startup(started, obtained);
}

void apply_socket_startup(bool started, Core_Platform::socket_version_t obtained) {
    if (!started) {
        set_status_text(u" WSAStartup failed");
        throw 0;
    }
    if (obtained.major == 2 && obtained.minor == 2) {
        set_status_text(u" v2.2");
        return;
    }
    Core_Platform::socket_cleanup();
    Core_Platform::set_last_socket_error(Core_Platform::SOCKET_ERROR_VERSION_NOT_SUPPORTED);
    set_status_text(version_text(obtained));
    throw 0;
}

}  // namespace Core_Socket
