// Public engine surface: what the socket layer reports to the layer above.
//
// The socket layer never names the classes of the layer above. It reports
// every event of a connection through the one InterfaceSocketCallback that
// start-up registers (InterfaceSocket::set_tcp_callback), and the layer above drives the
// socket layer through its own function interface. A binding object made
// from InterfaceSocketTCPCallbackTemplate<T> forwards each operation to the
// static function of the same name of class T.
//
// Handles: `conn` is the reporting connection, opaque to the layer above;
// `link` is the user handle stored in the connection (the layer above's
// object). IPv4 addresses are 32-bit values in network byte order (0 when the
// address cannot be read); ports are in host byte order. Error codes are
// socket errors (platform/socket_errors.h) or end of file (the socket
// library's "misc" category, value 2); no error is 0 in the system category.
//
// Thread rule: every operation is called on a socket service thread. For one
// connection the calls never overlap (they run on the connection's strand);
// for different connections they may run concurrently.
#pragma once

#include <boost/system/error_code.hpp>
#include <cstdint>
#include <memory>
#include <string>

namespace Core_Socket {

// One UDP datagram: its peer (destination when sent, source when received)
// and its bytes.
struct udp_datagram_t {
    std::string host;
    std::uint16_t port = 0;
    std::string bytes;
};
using udp_datagram_ptr = std::shared_ptr<udp_datagram_t>;

class InterfaceSocketCallback {
public:
    virtual ~InterfaceSocketCallback() = default;

    // A listener accepted a connection. Storing nullptr in `link` refuses it.
    virtual void on_tcp_accepted(void* conn, void*& link, const std::string& remote_address,
                                 std::uint16_t remote_port, std::uint16_t local_port) = 0;
    // The connection has closed. The callee must empty `link`; from then on
    // the connection reports nothing more. Called exactly once per connection.
    virtual void on_tcp_closed(void* conn, void*& link, const boost::system::error_code& ec) = 0;
    // The connection is established.
    virtual void on_tcp_connected(void* conn, void* link, std::uint32_t local_address,
                                  std::uint16_t local_port, std::uint32_t remote_address,
                                  std::uint16_t remote_port) = 0;
    // Before each read: how many bytes may be read now (0xFFFFFFFF no limit,
    // 0 none now).
    virtual void get_recv_allowance(void* conn, void* link, std::uint32_t& allowance) = 0;
    // A read completed with `size` bytes (valid only during the call).
    virtual void on_tcp_received(void* conn, void* link, const char* data, std::size_t size) = 0;
    // Before taking data to send: how many bytes may be sent now (0 none now).
    virtual void get_send_allowance(void* conn, void* link, std::uint32_t& allowance) = 0;
    // The next bytes to send: on entry `size` is the most the connection will
    // take; on return `data` points at the bytes and `size` says how many are
    // available (0: nothing to send). Always followed by on_send_data_taken.
    virtual void get_send_data(void* conn, void* link, const char*& data, std::uint32_t& size) = 0;
    // The connection copied `count` bytes of those offered (possibly 0).
    virtual void on_send_data_taken(void* conn, void* link, std::uint32_t count) = 0;
    // A datagram arrived (UDP service thread).
    virtual void on_udp_received(const udp_datagram_ptr& datagram) = 0;
    // The next datagram to send, or an empty handle (UDP service thread).
    virtual void get_udp_datagram(udp_datagram_ptr& datagram) = 0;
};

// Forwards every operation to the static function of the same name of T.
template <class T>
class InterfaceSocketTCPCallbackTemplate final : public InterfaceSocketCallback {
public:
    void on_tcp_accepted(void* conn, void*& link, const std::string& remote_address,
                         std::uint16_t remote_port, std::uint16_t local_port) override {
        T::on_tcp_accepted(conn, link, remote_address, remote_port, local_port);
    }
    void on_tcp_closed(void* conn, void*& link, const boost::system::error_code& ec) override {
        T::on_tcp_closed(conn, link, ec);
    }
    void on_tcp_connected(void* conn, void* link, std::uint32_t local_address,
                          std::uint16_t local_port, std::uint32_t remote_address,
                          std::uint16_t remote_port) override {
        T::on_tcp_connected(conn, link, local_address, local_port, remote_address, remote_port);
    }
    void get_recv_allowance(void* conn, void* link, std::uint32_t& allowance) override {
        T::get_recv_allowance(conn, link, allowance);
    }
    void on_tcp_received(void* conn, void* link, const char* data, std::size_t size) override {
        T::on_tcp_received(conn, link, data, size);
    }
    void get_send_allowance(void* conn, void* link, std::uint32_t& allowance) override {
        T::get_send_allowance(conn, link, allowance);
    }
    void get_send_data(void* conn, void* link, const char*& data, std::uint32_t& size) override {
        T::get_send_data(conn, link, data, size);
    }
    void on_send_data_taken(void* conn, void* link, std::uint32_t count) override {
        T::on_send_data_taken(conn, link, count);
    }
    void on_udp_received(const udp_datagram_ptr& datagram) override {
        T::on_udp_received(datagram);
    }
    void get_udp_datagram(udp_datagram_ptr& datagram) override { T::get_udp_datagram(datagram); }
};

}  // namespace Core_Socket
