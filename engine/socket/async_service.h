// Internal to the socket layer: the TCP service.
//
// The service owns two I/O contexts with their threads: "SocketIncoming"
// (for accepted connections; this engine opens no listener) and
// "SocketOutgoing" (every connection the engine opens lives there). It keeps
// the registry of open connections, which holds each open connection's
// owning reference until the connection has reported its close.
//
// Shutdown: stop_threads stops both contexts and joins their threads. The
// destructor does the same and then closes, on the calling thread, every
// connection that is still open, so each user hears on_tcp_closed exactly
// once (with 995, operation aborted) and no service thread outlives the
// service.
//
// Thread rule: start, stop_threads and the destructor are for the main
// thread; create_connection, remove_connection, close_all_connections and the
// figures may be called from any thread (the registry has its own lock).
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <ostream>
#include <set>

#include "common/record_pool.h"
#include "socket/service_context.h"

namespace Core_Socket {

class async_connection;

class async_service {
public:
    async_service();
    ~async_service();
    async_service(const async_service&) = delete;
    async_service& operator=(const async_service&) = delete;

    // Starts the incoming threads, then the outgoing ones.
    void start(int incoming_threads, int outgoing_threads);
    // Stops both contexts and joins their threads (see service_context::stop).
    void stop_threads();

    // A new connection in the outgoing context with the current inactivity
    // time-out, reporting to `user`, held by the registry.
    std::shared_ptr<async_connection> create_connection(void* user);
    // Drops the registry's reference (called by the connection when it has
    // reported its close).
    void remove_connection(const std::shared_ptr<async_connection>& connection);
    // Closes every registered connection with the no-error code.
    void close_all_connections();
    // Closes every listener; there are none in this engine, so this only
    // empties the (empty) listener registry.
    void close_listeners();

    std::size_t connection_count() const;
    std::size_t running_threads() const;

    // The connection records' pool figures.
    static Core_Common::record_pool_figures_t connection_figures();

    boost::asio::io_context& outgoing_context() { return m_outgoing.context(); }

private:
    service_context m_incoming;
    service_context m_outgoing;
    mutable std::mutex m_connections_lock;
    std::set<std::shared_ptr<async_connection>> m_connections;
    std::mutex m_listeners_lock;
    std::set<std::shared_ptr<void>> m_listeners;
};

}  // namespace Core_Socket
