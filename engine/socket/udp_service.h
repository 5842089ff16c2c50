// Internal to the socket layer: the UDP service and its "SocketUDP" thread.
//
// The service sends the datagrams the layer above queues (asked for one at a
// time with get_udp_datagram), no closer together than udp_min_send_interval
// milliseconds, and hands received datagrams up with on_udp_received. The
// engine itself never opens the socket, so in normal operation the thread
// only keeps its context alive; open() exists for callers (and tests) that
// want datagrams to flow.
//
// Thread rule: start, stop_threads and the destructor are for the main
// thread; open, close and send may be called from any thread. The send pump
// runs on the "SocketUDP" thread under the service lock (the pacing sleep
// too).
#pragma once

#include <boost/asio/ip/udp.hpp>
#include <cstdint>
#include <mutex>
#include <optional>

#include "common/timestamp_auto.h"
#include "socket/service_context.h"
#include "socket/socket_callback.h"

namespace Core_Socket {

class udp_service {
public:
    udp_service();
    ~udp_service();
    udp_service(const udp_service&) = delete;
    udp_service& operator=(const udp_service&) = delete;

    // Starts the "SocketUDP" thread.
    void start();
    // Stops the context and joins the thread.
    void stop_threads();

    // Opens an IPv4 datagram socket bound to `address`:`port` (0: any port)
    // and starts receiving. False when the socket could not be opened.
    bool open(const std::string& address, std::uint16_t port);
    // The bound port while open, else 0.
    std::uint16_t local_port();
    // Closes the socket if open.
    void close();
    // Runs the send pump on the service thread if the socket is open and the
    // pump is not already running.
    void send();

    std::size_t running_threads() const { return m_context.running_threads(); }

private:
    void pump();                                                      // service thread, lock held
    void send_current(const boost::asio::ip::udp::endpoint& target);  // lock held
    void on_send_done(const boost::system::error_code& ec);
    void receive();

    service_context m_context;
    std::recursive_mutex m_lock;
    boost::asio::ip::udp::socket m_socket;
    boost::asio::ip::udp::resolver m_resolver;
    bool m_open = false;
    Core_Common::timestamp_auto m_last_send;
    udp_datagram_ptr m_current;
    bool m_sending = false;
    // Receive side: touched only by the receive chain on the service thread.
    char m_receive_buffer[65536];
    boost::asio::ip::udp::endpoint m_sender;
};

}  // namespace Core_Socket
