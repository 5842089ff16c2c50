// Public engine surface: the socket operations the wire layer calls.
//
// The wire layer drives the socket layer only through the one
// InterfaceSocketFunc that start-up registers
// (InterfaceWire::set_socket_func). A binding made from
// InterfaceSocketFuncTemplate<T> forwards each operation to the static
// function of the same name of class T, so the wire layer never names the
// socket layer's classes.
//
// Handles: `link` is the wire layer's link; `connection` is the socket
// layer's connection, opaque here. The wire layer passes a connection only
// while that connection has not yet reported its close to the link.
//
// Thread rule: any thread; none of the operations calls back into the wire
// layer before returning (they hand work to the socket threads).
#pragma once

#include <cstdint>
#include <string>

namespace Core_Wire {

class InterfaceSocketFunc {
public:
    virtual ~InterfaceSocketFunc() = default;

    // Creates a connection reporting to `link`, stores it in `connection`
    // before anything else happens, and starts connecting to host:port, over
    // TLS when `tls` is set (socket/tls_trust.h). The outcome arrives through
    // the socket callbacks (on_tcp_connected, or on_tcp_closed with the
    // error).
    virtual void tcp_connect(void* link, void*& connection, const std::string& host,
                             std::uint16_t port, bool tls) = 0;
    // Runs the connection's send pump once.
    virtual void tcp_send(void* link, void* connection) = 0;
    // Graceful: shuts the sending direction down (the connection ends by the
    // peer's close or the inactivity time-out). Otherwise closes at once; the
    // close is reported with the no-error code.
    virtual void tcp_close(void* link, void* connection, bool graceful) = 0;
    // Reserved operations; they do nothing.
    virtual void reserved3(void*, void*, void*) {}
    virtual void reserved4(void*, void*, void*, void*) {}
    virtual void reserved5(void*, void*, void*) {}
    // Runs the UDP send pump once.
    virtual void udp_send() = 0;
};

// Forwards every operation to the static function of the same name of T.
template <class T>
class InterfaceSocketFuncTemplate final : public InterfaceSocketFunc {
public:
    void tcp_connect(void* link, void*& connection, const std::string& host, std::uint16_t port,
                     bool tls) override {
        T::tcp_connect(link, connection, host, port, tls);
    }
    void tcp_send(void* link, void* connection) override { T::tcp_send(link, connection); }
    void tcp_close(void* link, void* connection, bool graceful) override {
        T::tcp_close(link, connection, graceful);
    }
    void udp_send() override { T::udp_send(); }
};

}  // namespace Core_Wire
