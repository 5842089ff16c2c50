// Public engine surface: the socket module, registered as
// "Core_Socket::InterfaceSocket".
//
// The module owns the socket layer's TCP and UDP services and the pointer
// to the TCP callback through which the layer reports to the layer above
// (registered by start-up's layer bindings, framework/layer_bindings.h).
// Its settings are in socket/socket_settings.h.
//
// Thread rule: the module's operations run on the main thread.
#pragma once

#include "framework/module.h"
#include "framework/singleton.h"

namespace Core_Socket {

class InterfaceSocketCallback;

class InterfaceSocket : public Core_Common::InterfaceModule,
                        public Core_Common::Singleton<InterfaceSocket> {
public:
    // Clears the TCP-callback pointer; the layer's services are created
    // here.
    void initialize() override;
    void start() override;
    void cleanup() override;
    void uninitialize() override;

    // Closes every listener of the TCP service, if the service exists.
    // Shutdown calls it before its last pump.
    void close_listeners();

    // The callback through which the socket layer reports TCP events; null
    // until start-up registers its binding. Read from any thread.
    static InterfaceSocketCallback* tcp_callback();
    static void set_tcp_callback(InterfaceSocketCallback* callback);
};

}  // namespace Core_Socket
