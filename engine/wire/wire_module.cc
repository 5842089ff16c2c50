#include "wire/wire_module.h"

#include <array>
#include <atomic>

#include "wire/wire_settings.h"

namespace Core_Wire {
namespace {

std::array<std::atomic<InterfaceWireCallback*>, InterfaceWire::protocol_client_count>
    g_protocol_clients{};
std::atomic<InterfaceSocketFunc*> g_socket_func{nullptr};
std::atomic<bool> g_stopping{false};

}  // namespace

void InterfaceWire::initialize() {
    wire_direct_dispatch.store(ENABLE_WIRE_SOCKET_THREAD.load());
    for (auto& entry : g_protocol_clients) {
        entry.store(nullptr, std::memory_order_release);
    }
    set_socket_func(nullptr);
}

void InterfaceWire::start() { g_stopping.store(false); }

void InterfaceWire::cleanup() { g_stopping.store(true); }

void InterfaceWire::uninitialize() {}

bool InterfaceWire::is_stopping() { return g_stopping.load(); }

InterfaceWireCallback* InterfaceWire::protocol_client(std::size_t index) {
    if (index >= protocol_client_count) {
        return nullptr;
    }
    return g_protocol_clients[index].load(std::memory_order_acquire);
}

bool InterfaceWire::set_protocol_client(std::size_t index, InterfaceWireCallback* client) {
    if (index >= protocol_client_count) {
        return false;
    }
    g_protocol_clients[index].store(client, std::memory_order_release);
    return true;
}

InterfaceSocketFunc* InterfaceWire::socket_func() {
    return g_socket_func.load(std::memory_order_acquire);
}

void InterfaceWire::set_socket_func(InterfaceSocketFunc* func) {
    g_socket_func.store(func, std::memory_order_release);
}

}  // namespace Core_Wire
