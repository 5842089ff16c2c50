#include "socket/socket_module.h"

#include <atomic>

namespace Core_Socket {
namespace {

std::atomic<InterfaceSocketCallback*> g_tcp_callback{nullptr};

}  // namespace

void InterfaceSocket::initialize() { set_tcp_callback(nullptr); }

void InterfaceSocket::start() {}

void InterfaceSocket::cleanup() {}

void InterfaceSocket::uninitialize() {}

void InterfaceSocket::close_listeners() {}

InterfaceSocketCallback* InterfaceSocket::tcp_callback() {
    return g_tcp_callback.load(std::memory_order_acquire);
}

void InterfaceSocket::set_tcp_callback(InterfaceSocketCallback* callback) {
    g_tcp_callback.store(callback, std::memory_order_release);
}

}  // namespace Core_Socket
