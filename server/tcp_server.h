// Internal to the server: the TCP side of zorvane-server. The only file of
// the server that uses Boost.Asio.
//
// One request and one reply per connection. For each connection the server
// reads the request envelope (session_envelope.h) and drops the connection
// without a word when it is not one, or when the whole request would exceed
// `max_request` bytes; otherwise it reads the body, hands it to the handler
// on a worker thread, sends the reply and closes. Every connection ends with
// one line in the request log.
//
// What a client can make the server hold is bounded:
//   - time: the envelope's header must arrive within `header_timeout` of the
//     connection being accepted (a TLS handshake included), the whole
//     request within `timeout`, and the reply must be taken within `timeout`
//     of its sending starting, so slow or silent clients cannot pin the
//     server;
//   - memory: a body buffer grows with the bytes that arrived, never with
//     the length a header announces; the request and reply bytes all
//     connections hold together stay within `max_buffered`. A request whose
//     body would go beyond it is read to its end without being kept and
//     handed to the handler marked busy (it answers "BUSY" at once);
//   - connections: at most `max_per_address` at once from one address (an
//     IPv6 address counts by its /64), further ones are closed on arrival;
//     above `max_connections` open connections, new requests are still read
//     but handed over marked busy; above twice that, new connections are
//     closed on arrival;
//   - work: handlers run on `workers` threads with at most `queue` requests
//     waiting for one; a request beyond that is handed over marked busy, on
//     the network thread.
//
// TLS: with a certificate and key, the same port serves TLS and clear text:
// a TLS connection starts with a handshake record (first byte 0x16), a clear
// one with the envelope's preamble. `require_tls` closes clear-text
// connections on arrival. The envelope and everything in it are the same
// bytes inside TLS. reload_tls() reads the certificate and key again; new
// connections use them, open ones keep theirs.
//
// Threads: `threads` network threads and `workers` handler threads; the
// handler may block a worker for the length of a request.
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
    int threads = 2;
    int workers = 8;
    std::size_t queue = 64;
    // The whole request, envelope included; the protocol's most by default.
    std::size_t max_request = Core_Common::max_request_bytes;
    int max_connections = 512;
    int max_per_address = 64;
    std::size_t max_buffered = 256 * 1024 * 1024;
    std::chrono::milliseconds header_timeout = std::chrono::seconds(10);
    std::chrono::milliseconds timeout = std::chrono::seconds(30);
    // PEM files of the certificate chain (the server's first) and its
    // private key; both empty: no TLS.
    std::string tls_certificate;
    std::string tls_key;
    bool require_tls = false;
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

    // Loads the TLS certificate and key (when named), binds, listens and
    // starts the threads. On failure returns false with `error` naming the
    // file or address and the system's reason; nothing runs.
    [[nodiscard]] bool start(std::string& error);
    // The port listened on (the chosen one when the options said 0).
    std::uint16_t port() const;
    // Stops accepting, abandons open connections and joins the threads.
    // Idempotent; callable from any thread but the server's own.
    void stop();

    // Reads the TLS certificate and key files again. On failure returns
    // false with `error` saying why, and the server keeps the ones it had.
    // Any thread; true and nothing done when the server has no TLS.
    [[nodiscard]] bool reload_tls(std::string& error);

    // Connections open now.
    int open_connections() const;
    // Connections ended so far (each has its log line written).
    std::uint64_t finished_connections() const;
    // Request and reply bytes held by the connections now.
    std::size_t buffered_bytes() const;

    // The implementation's state, shared with its connections.
    struct impl_t;

private:
    std::unique_ptr<impl_t> m_impl;
};

}  // namespace Core_Server
