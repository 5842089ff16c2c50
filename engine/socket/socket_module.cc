#include "socket/socket_module.h"

#include <atomic>
#include <memory>

#include "common/fatal_error.h"
#include "platform/socket_errors.h"
#include "socket/async_connection.h"
#include "socket/async_service.h"
#include "socket/socket_settings.h"
#include "socket/socket_startup.h"
#include "socket/udp_service.h"

namespace Core_Socket {
namespace {

std::atomic<InterfaceSocketCallback*> g_tcp_callback{nullptr};
// Owned by the module; written on the main thread only.
std::unique_ptr<async_service> g_tcp_service;
std::unique_ptr<udp_service> g_udp_service;
bool g_sockets_started = false;

void destroy_services() {
    // Each destructor stops its context and joins its threads first.
    g_tcp_service.reset();
    g_udp_service.reset();
}

}  // namespace

InterfaceSocket::~InterfaceSocket() {
    if (instance() == this || instance() == nullptr) {
        uninitialize();
    }
}

void InterfaceSocket::initialize() {
    socket_startup();
    g_sockets_started = true;
    destroy_services();
    g_tcp_service = std::make_unique<async_service>();
    g_udp_service = std::make_unique<udp_service>();
}

void InterfaceSocket::start() {
    if (g_udp_service) {
        g_udp_service->start();
    }
    if (g_tcp_service) {
        g_tcp_service->start(socket_incoming_threads.load(), socket_outgoing_threads.load());
    }
}

void InterfaceSocket::stop() {
    close_listeners();
    if (g_udp_service) {
        g_udp_service->close();
    }
    if (g_tcp_service) {
        g_tcp_service->close_all_connections();
    }
}

void InterfaceSocket::cleanup() {
    if (g_tcp_service) {
        g_tcp_service->stop_threads();
    }
    if (g_udp_service) {
        g_udp_service->stop_threads();
    }
}

void InterfaceSocket::uninitialize() {
    destroy_services();
    if (g_sockets_started) {
        Core_Platform::socket_cleanup();
        g_sockets_started = false;
    }
}

void InterfaceSocket::report_status(std::ostream& out) {
    const Core_Common::record_pool_figures_t figures = async_service::connection_figures();
    const std::uint64_t capacity = static_cast<std::uint64_t>(figures.chunks) * figures.per_chunk;
    out << "=== Socket Layer (ASIO TCP) ===" << '\n';
    out << "async_connection objects = " << figures.live << ", capacity = " << capacity
        << ", mem = " << ((capacity * figures.record_size) >> 10) << "KB" << '\n';
    out << "listen backlog = " << kListenBacklog << '\n';
}

void InterfaceSocket::close_listeners() {
    if (g_tcp_service) {
        g_tcp_service->close_listeners();
    }
}

async_service* InterfaceSocket::tcp_service() const { return g_tcp_service.get(); }

udp_service* InterfaceSocket::udp() const { return g_udp_service.get(); }

InterfaceSocketCallback* InterfaceSocket::tcp_callback() {
    return g_tcp_callback.load(std::memory_order_acquire);
}

void InterfaceSocket::set_tcp_callback(InterfaceSocketCallback* callback) {
    g_tcp_callback.store(callback, std::memory_order_release);
}

void InterfaceSocket::tcp_connect(void* link, void*& connection, const std::string& host,
                                  std::uint16_t port, bool tls) {
    InterfaceSocket* module = instance();
    if (module == nullptr ||
        (module->m_state != STATE_STARTED && module->m_state != STATE_STOPPED) || !g_tcp_service) {
        Core_Common::fatal_error();
    }
    std::shared_ptr<async_connection> created = g_tcp_service->create_connection(link);
    connection = created.get();
    if (module->m_state != STATE_STARTED) {
        created->close(
            Core_Platform::make_socket_error(Core_Platform::SOCKET_ERROR_CONNECTION_ABORTED));
        return;
    }
    created->start_connect(host, port, tls);
}

void InterfaceSocket::tcp_send(void* /*link*/, void* connection) {
    if (connection != nullptr) {
        static_cast<async_connection*>(connection)->send();
    }
}

void InterfaceSocket::tcp_close(void* /*link*/, void* connection, bool graceful) {
    if (connection == nullptr) {
        return;
    }
    auto* target = static_cast<async_connection*>(connection);
    if (graceful) {
        target->close_gracefully();
    } else {
        target->close(boost::system::error_code());
    }
}

void InterfaceSocket::udp_send() {
    InterfaceSocket* module = instance();
    if (module != nullptr && g_udp_service) {
        g_udp_service->send();
    }
}

}  // namespace Core_Socket
