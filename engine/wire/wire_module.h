// Public engine surface: the wire module, registered as
// "Core_Wire::InterfaceWire".
//
// The module owns the wire layer's process-wide state: the dispatch mode
// (wire/wire_settings.h), the table of 21 protocol-client callbacks (entry 0
// is never used; entry 18 is the session client's), the pointer to the
// socket functions the wire layer calls, and the stopping flag the session
// client consults before it connects. Start-up's layer bindings
// (startup/layer_bindings.h) fill the table entry and the socket-function
// pointer after initialize.
//
// Thread rule: the module's operations and the setters run on the main
// thread; the getters may be called from any thread.
#pragma once

#include <boost/system/error_code.hpp>
#include <cstddef>
#include <cstdint>
#include <ostream>
#include <string>

#include "framework/module.h"
#include "framework/singleton.h"
#include "socket/socket_callback.h"

namespace Core_Wire {

class InterfaceWireCallback;
class InterfaceSocketFunc;

class InterfaceWire : public Core_Common::InterfaceModule,
                      public Core_Common::Singleton<InterfaceWire> {
public:
    static constexpr std::size_t protocol_client_count = 21;
    // The table entry of the session client's binding.
    static constexpr std::size_t soap_client_index = 18;

    InterfaceWire() = default;
    // Does what uninitialize does when it has not run (shutdown destroys a
    // started module without it). Meant to run after the socket layer's
    // threads have stopped.
    ~InterfaceWire() override;

    // Copies ENABLE_WIRE_SOCKET_THREAD into wire_direct_dispatch, clears the
    // protocol-client table and the socket-function pointer, and creates
    // WireContext, WireLinkPool, UDPPool and the group registry (each
    // replacing a previous one).
    void initialize() override;
    // Clears the stopping flag; unless in direct-dispatch mode, arms the
    // 200 ms "TCP connect pending" pump (the timer queue must exist).
    void start() override;
    // Sets the stopping flag; unless in direct-dispatch mode, disarms the
    // pump, drops the pending links and cancels the UDP drain task.
    void cleanup() override;
    // Destroys the groups, UDPPool, WireLinkPool and WireContext, in this
    // order; links still alive are closed down first (their clients hear
    // on_closed with 995, operation aborted).
    void uninitialize() override;
    // The wire layer's report: link and group records, UDP queues, buffer
    // totals, the four counters and the caller lists.
    void report_status(std::ostream& out) override;

    // True from cleanup until the next start: new sessions must not connect.
    static bool is_stopping();

    // The protocol client at `index`; null when unset or `index` is out of
    // range (0 .. protocol_client_count - 1).
    static InterfaceWireCallback* protocol_client(std::size_t index);
    // Sets the protocol client at `index`; returns false (and changes
    // nothing) when `index` is out of range.
    static bool set_protocol_client(std::size_t index, InterfaceWireCallback* client);

    // The socket functions the wire layer calls; null until registered.
    static InterfaceSocketFunc* socket_func();
    static void set_socket_func(InterfaceSocketFunc* func);

    // The socket layer's events, forwarded by the TCP-callback binding
    // (socket/socket_callback.h has their contracts). Without a wire layer
    // (before initialize, after uninitialize) they are ignored: a closed
    // connection's slot is emptied and allowances are 0.
    static void on_tcp_accepted(void* conn, void*& link, const std::string& remote_address,
                                std::uint16_t remote_port, std::uint16_t local_port);
    static void on_tcp_closed(void* conn, void*& link, const boost::system::error_code& ec);
    static void on_tcp_connected(void* conn, void* link, std::uint32_t local_address,
                                 std::uint16_t local_port, std::uint32_t remote_address,
                                 std::uint16_t remote_port);
    static void get_recv_allowance(void* conn, void* link, std::uint32_t& allowance);
    static void on_tcp_received(void* conn, void* link, const char* data, std::size_t size);
    static void get_send_allowance(void* conn, void* link, std::uint32_t& allowance);
    static void get_send_data(void* conn, void* link, const char*& data, std::uint32_t& size);
    static void on_send_data_taken(void* conn, void* link, std::uint32_t count);
    static void on_udp_received(const Core_Socket::udp_datagram_ptr& datagram);
    static void get_udp_datagram(Core_Socket::udp_datagram_ptr& datagram);
};

}  // namespace Core_Wire
