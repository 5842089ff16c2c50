// Internal to the socket layer: one asynchronous TCP connection.
//
// A connection resolves its host (or takes a numeric address as it is), tries
// the endpoints in order, and once established reads continuously and writes
// what the user hands it, asking the registered InterfaceSocketCallback for
// allowances and data. Every handler and every posted operation runs on the
// connection's strand, so no two of them run at once.
//
// Ownership: connections live in pooled records and are always held through
// std::shared_ptr. The service's registry holds the owning reference of an
// open connection; every pending operation holds another, so a closed
// connection is destroyed when its last completion has run.
//
// Connecting (resolution, every attempt and, for TLS, the handshake) has a
// deadline of `connect_timeout_seconds`: a connection not established by
// then closes with 10060 (timed out). Once established, the inactivity
// time-out runs.
//
// A TLS connection (start_connect with `tls` set) counts as established only
// once its handshake has checked the server (socket/tls_trust.h); until then
// it takes nothing from the user, and a failed check closes it with the
// error of tls_category. Afterwards the user's bytes travel inside TLS
// unchanged, and a graceful close shuts the TCP sending direction down (no
// TLS close notice: the peer reads the end of the stream).
//
// When the user allows no reading or sending for now, the connection asks
// again after a real wait of 1 to 49 ms (never a spin).
//
// Closing delivers on_tcp_closed exactly once and detaches the connection
// from its user: every later completion finds no user and does nothing.
//
// Thread rule: start_connect, send, close and close_gracefully may be called
// from any thread; they only post to the strand. The user must not call them
// after on_tcp_closed has returned.
#pragma once

#include <array>
#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/ssl/context.hpp>
#include <boost/asio/ssl/stream.hpp>
#include <boost/asio/strand.hpp>
#include <boost/system/error_code.hpp>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "socket/time_traits.h"

namespace Core_Socket {

class async_service;

class async_connection : public std::enable_shared_from_this<async_connection> {
public:
    static constexpr std::size_t kReceiveBufferSize = 4096;
    static constexpr std::uint32_t kNoLimit = 0xFFFFFFFFu;
    // The most taken from the user per write: a request of a hundred
    // megabytes goes out through one reused buffer of this size, not one
    // copy of its own size.
    static constexpr std::uint32_t kSendPieceSize = 256 * 1024;

    async_connection(async_service& service, boost::asio::io_context& context, void* user,
                     std::int32_t timeout_seconds, std::int32_t connect_timeout_seconds = 0);
    ~async_connection();
    async_connection(const async_connection&) = delete;
    async_connection& operator=(const async_connection&) = delete;

    // Starts connecting to host:port (a numeric address is used as it is,
    // a name is resolved first), over TLS when `tls` is set.
    void start_connect(const std::string& host, std::uint16_t port, bool tls = false);
    // Runs the send pump once.
    void send();
    // Closes abortively and reports `ec` through on_tcp_closed (once).
    void close(const boost::system::error_code& ec);
    // Shuts the sending direction down; the connection then ends by the
    // peer's close or by the inactivity time-out.
    void close_gracefully();

    std::int32_t timeout_seconds() const { return m_timeout_seconds; }

private:
    using endpoint_list = std::shared_ptr<std::vector<boost::asio::ip::tcp::endpoint>>;

    void do_connect(const std::string& host, std::uint16_t port);
    void connect_at(endpoint_list endpoints, std::size_t index);
    void on_connect(endpoint_list endpoints, std::size_t index,
                    const boost::system::error_code& ec);
    void on_established();
    void start_handshake();
    void report_connected();
    template <class Buffers, class Handler>
    void read_some(const Buffers& buffers, Handler&& handler);
    template <class Buffers, class Handler>
    void write_all(const Buffers& buffers, Handler&& handler);
    void do_read();
    void on_read(const boost::system::error_code& ec, std::size_t n);
    void pump_send();
    void on_write(const boost::system::error_code& ec, std::size_t n);
    void arm_timeout();
    void arm_connect_deadline();
    void on_timeout(const boost::system::error_code& ec);
    void arm_retry(socket_timer& timer, bool for_write);
    void do_close(const boost::system::error_code& ec);

    async_service& m_service;
    boost::asio::ip::tcp::socket m_socket;
    // The user's handle; empty once detached. Touched only on the strand
    // (and by the creator before anything is posted).
    void* m_user;
    boost::asio::strand<boost::asio::io_context::executor_type> m_strand;
    std::array<char, kReceiveBufferSize> m_receive{};
    std::vector<char> m_send;
    bool m_writing = false;
    socket_timer m_timeout_timer;
    const std::int32_t m_timeout_seconds;
    const std::int32_t m_connect_timeout_seconds;
    socket_timer m_read_retry_timer;
    socket_timer m_write_retry_timer;
    std::optional<boost::asio::ip::tcp::resolver> m_resolver;
    // TLS: the host the certificate must name, the shared client context,
    // and the stream over m_socket (present from the handshake on).
    bool m_use_tls = false;
    std::string m_tls_host;
    std::shared_ptr<boost::asio::ssl::context> m_tls_context;
    std::optional<boost::asio::ssl::stream<boost::asio::ip::tcp::socket&>> m_tls;
};

// The socket error a completion reports, as the layers above see it:
// system and resolver codes become socket errors; end of file and the other
// codes of the library's "misc" category stay as they are.
boost::system::error_code to_socket_error(const boost::system::error_code& ec);

// The 32-bit network-order value of an address's dotted text; 0 for an
// address that has no IPv4 form.
std::uint32_t ipv4_network_value(const boost::asio::ip::address& address);

}  // namespace Core_Socket
