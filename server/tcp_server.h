// Internal to the server: the TCP side of zorvane-server. The only file of
// the server that uses Boost.Asio.
//
// One request and one reply per connection. For each connection the server
// reads the request envelope (session_envelope.h) and drops the connection
// without a word when it is not one, or when the whole request would exceed
// `max_request` bytes; otherwise it reads the body, calls the handler, sends
// the reply and closes. Every connection has a deadline: the whole request
// must arrive within `timeout` of the connection being accepted, and the
// reply must be taken within `timeout` of its sending starting, so slow or
// silent clients cannot pin the server. Above `max_connections` open
// connections, new requests are still read but handed to the handler marked
// busy (it answers at once); above twice that, new connections are closed
// on arrival. Every connection ends with one line in the request log.
//
// Threads: `threads` threads run the network and the handler; the handler
// may block one of them for the length of a request.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "common/size_limits.h"
#include "request_handler.h"
#include "request_log.h"

namespace Core_Server {

struct tcp_server_options_t {
    std::string address = "0.0.0.0";
    std::uint16_t port = 8080;  // 0: any free port (see port())
    int threads = 4;
    // The whole request, envelope included; the protocol's most by default.
    std::size_t max_request = Core_Common::max_request_bytes;
    int max_connections = 512;
    std::chrono::milliseconds timeout = std::chrono::seconds(30);
};

class tcp_server_t {
public:
    // `handler` and `log` must outlive the server.
    tcp_server_t(const tcp_server_options_t& options, InterfaceRequestHandler& handler,
                 request_log_t& log);
    tcp_server_t(const tcp_server_t&) = delete;
    tcp_server_t& operator=(const tcp_server_t&) = delete;
    // Stops the server if it runs.
    ~tcp_server_t();

    // Binds, listens and starts the threads. On failure returns false with
    // `error` naming the address and the system's reason; nothing runs.
    [[nodiscard]] bool start(std::string& error);
    // The port listened on (the chosen one when the options said 0).
    std::uint16_t port() const;
    // Stops accepting, abandons open connections and joins the threads.
    // Idempotent; callable from any thread but the server's own.
    void stop();

    // Connections open now.
    int open_connections() const;
    // Connections ended so far (each has its log line written).
    std::uint64_t finished_connections() const;

    // The implementation's state, shared with its connections.
    struct impl_t;

private:
    std::unique_ptr<impl_t> m_impl;
};

}  // namespace Core_Server
