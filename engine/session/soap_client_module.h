// Public engine surface: the session-client module, registered as
// "Core_SOAPClient::InterfaceSOAPClient".
//
// Every operation does nothing: the session client keeps no state of its own
// between start-up and shutdown. The module exists so that the framework
// creates it in its place, and its class names the session client's binding
// in the wire layer's protocol-client table (entry 18).
//
// Thread rule: the module's operations run on the main thread.
#pragma once

#include "framework/module.h"
#include "framework/singleton.h"

namespace Core_SOAPClient {

class InterfaceSOAPClient : public Core_Common::InterfaceModule,
                            public Core_Common::Singleton<InterfaceSOAPClient> {
public:
    void initialize() override {}
    void start() override {}
    void cleanup() override {}
    void uninitialize() override {}
};

}  // namespace Core_SOAPClient
