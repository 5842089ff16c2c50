// Public engine surface: the socket module, registered as
// "Core_Socket::InterfaceSocket".
//
// The module owns the socket layer's TCP service (async_service) and UDP
// service (udp_service) and the pointer to the TCP callback through which the
// layer reports to the layer above (registered by start-up's layer bindings,
// framework/layer_bindings.h). Its settings are in socket/socket_settings.h.
//
//   initialize:   socket start-up (socket/socket_startup.h; throws the
//                 integer 0 when sockets are unusable), then creates the TCP
//                 and the UDP service, each replacing a previous one.
//   start:        starts the UDP service's thread, then the TCP service's.
//   stop:         closes the listeners, the UDP socket and every TCP
//                 connection (with the no-error code).
//   cleanup:      stops the three I/O contexts and waits for their threads.
//   uninitialize: destroys the services and ends the socket use.
//   report_status: "=== Socket Layer (ASIO TCP) ===", the connection records
//                 and the listen backlog.
// The destructor does what cleanup and uninitialize do when they have not
// run (shutdown destroys a started module without them), so no service thread
// outlives the module.
//
// The static socket functions (tcp_connect, ...) are what the wire layer's
// binding forwards to (wire/socket_func.h has their contracts).
//
// Thread rule: the module's operations run on the main thread; the socket
// functions and tcp_callback may be called from any thread.
#pragma once

#include <cstdint>
#include <ostream>
#include <string>

#include "framework/module.h"
#include "framework/singleton.h"

namespace Core_Socket {

class InterfaceSocketCallback;
class async_service;
class udp_service;

class InterfaceSocket : public Core_Common::InterfaceModule,
                        public Core_Common::Singleton<InterfaceSocket> {
public:
    // The listen backlog the report shows (the platform's maximum).
    static constexpr std::int32_t kListenBacklog = 2147483647;

    InterfaceSocket() = default;
    ~InterfaceSocket() override;

    void initialize() override;
    void start() override;
    void stop() override;
    void cleanup() override;
    void uninitialize() override;
    void report_status(std::ostream& out) override;

    // Closes every listener of the TCP service, if the service exists.
    // Shutdown calls it before its last pump.
    void close_listeners();

    // The services; null outside initialize .. uninitialize. Main thread.
    async_service* tcp_service() const;
    udp_service* udp() const;

    // The callback through which the socket layer reports TCP events; null
    // until start-up registers its binding. Read from any thread.
    static InterfaceSocketCallback* tcp_callback();
    static void set_tcp_callback(InterfaceSocketCallback* callback);

    // The socket functions (wire/socket_func.h). tcp_connect raises
    // fatal_error() unless the module exists and is started (2) or stopped
    // (3); in state 3 the new connection is closed at once with 10053.
    static void tcp_connect(void* link, void*& connection, const std::string& host,
                            std::uint16_t port, bool tls);
    static void tcp_send(void* link, void* connection);
    static void tcp_close(void* link, void* connection, bool graceful);
    static void udp_send();
};

}  // namespace Core_Socket
