#include "sync_client/client_settings.h"

#include <mutex>

namespace Core_ZorvaneClient {
namespace {

template <class T>
struct guarded_t {
    std::mutex lock;
    T value;
};

guarded_t<std::string>& host_setting() {
    static auto* setting = new guarded_t<std::string>{{}, kDefaultServerHost};
    return *setting;
}

guarded_t<std::u16string>& directory_setting() {
    static auto* setting = new guarded_t<std::u16string>;
    return *setting;
}

}  // namespace

std::string server_host() {
    auto& s = host_setting();
    std::lock_guard<std::mutex> guard(s.lock);
    return s.value;
}

void set_server_host(std::string host) {
    auto& s = host_setting();
    std::lock_guard<std::mutex> guard(s.lock);
    s.value = host.empty() ? std::string(kDefaultServerHost) : std::move(host);
}

std::u16string data_directory() {
    auto& s = directory_setting();
    std::lock_guard<std::mutex> guard(s.lock);
    return s.value;
}

void set_data_directory(std::u16string directory) {
    auto& s = directory_setting();
    std::lock_guard<std::mutex> guard(s.lock);
    s.value = std::move(directory);
}

}  // namespace Core_ZorvaneClient
