#include "socket/async_service.h"

#include <vector>

#include "common/shared_record_pool.h"
#include "platform/socket_errors.h"
#include "socket/async_connection.h"
#include "socket/socket_settings.h"

namespace Core_Socket {

namespace {
using connection_pool = Core_Common::shared_record_pool<async_connection>;
constexpr const char* kConnectionRecordName = "async_connection";
}  // namespace

async_service::async_service() = default;

async_service::~async_service() {
    stop_threads();
    // No thread runs the outgoing context any more: close what is left here,
    // so every user hears its close once and no connection outlives us
    // holding a user handle.
    std::set<std::shared_ptr<async_connection>> left;
    {
        std::lock_guard<std::mutex> guard(m_connections_lock);
        left = m_connections;
    }
    for (const auto& connection : left) {
        connection->close(
            Core_Platform::make_socket_error(Core_Platform::SOCKET_ERROR_OPERATION_ABORTED));
    }
    outgoing_context().restart();
    outgoing_context().poll();
    {
        std::lock_guard<std::mutex> guard(m_connections_lock);
        m_connections.clear();
    }
}

void async_service::start(int incoming_threads, int outgoing_threads) {
    m_incoming.start(incoming_threads, "SocketIncoming");
    m_outgoing.start(outgoing_threads, "SocketOutgoing");
}

void async_service::stop_threads() {
    m_incoming.stop();
    m_outgoing.stop();
}

std::shared_ptr<async_connection> async_service::create_connection(void* user) {
    async_connection* raw =
        connection_pool::create(kConnectionRecordName, *this, m_outgoing.context(), user,
                                tcp_io_timeout_seconds.load(), tcp_connect_timeout_seconds.load());
    std::shared_ptr<async_connection> connection(
        raw, [](async_connection* dead) { connection_pool::destroy(dead); });
    std::lock_guard<std::mutex> guard(m_connections_lock);
    m_connections.insert(connection);
    return connection;
}

void async_service::remove_connection(const std::shared_ptr<async_connection>& connection) {
    std::shared_ptr<async_connection> last;  // released outside the lock
    std::lock_guard<std::mutex> guard(m_connections_lock);
    auto found = m_connections.find(connection);
    if (found != m_connections.end()) {
        last = *found;
        m_connections.erase(found);
    }
}

void async_service::close_all_connections() {
    std::lock_guard<std::mutex> guard(m_connections_lock);
    for (const auto& connection : m_connections) {
        connection->close(boost::system::error_code());
    }
}

void async_service::close_listeners() {
    std::lock_guard<std::mutex> guard(m_listeners_lock);
    m_listeners.clear();
}

std::size_t async_service::connection_count() const {
    std::lock_guard<std::mutex> guard(m_connections_lock);
    return m_connections.size();
}

std::size_t async_service::running_threads() const {
    return m_incoming.running_threads() + m_outgoing.running_threads();
}

Core_Common::record_pool_figures_t async_service::connection_figures() {
    return connection_pool::figures();
}

}  // namespace Core_Socket
