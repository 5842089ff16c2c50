#include "socket/host_table.h"

#include <map>
#include <mutex>

namespace Core_Socket {
namespace {

std::mutex g_host_lock;
std::map<std::string, std::vector<std::string>>& host_table() {
    static std::map<std::string, std::vector<std::string>> table;
    return table;
}

}  // namespace

void set_host_addresses(const std::string& name, std::vector<std::string> addresses) {
    std::lock_guard<std::mutex> lock(g_host_lock);
    host_table()[name] = std::move(addresses);
}

void clear_host_table() {
    std::lock_guard<std::mutex> lock(g_host_lock);
    host_table().clear();
}

std::optional<std::vector<std::string>> host_table_lookup(const std::string& name) {
    std::lock_guard<std::mutex> lock(g_host_lock);
    auto found = host_table().find(name);
    if (found == host_table().end()) {
        return std::nullopt;
    }
    return found->second;
}

}  // namespace Core_Socket
