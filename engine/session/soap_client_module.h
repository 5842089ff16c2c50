// Public engine surface: the session-client module, registered as
// "Core_SOAPClient::InterfaceSOAPClient".
//
// Every module operation does nothing: the session client keeps no state of
// its own between start-up and shutdown. The module exists so that the
// framework creates it in its place, and its class names the session
// client's binding in the wire layer's protocol-client table (entry 18): the
// static functions below are what that binding forwards to. They pass each
// wire event of a link to the link's owner, a session (soap_wire_t).
//
// Thread rule: the module's operations and the wire events run on the main
// thread.
#pragma once

#include <boost/system/error_code.hpp>
#include <cstddef>
#include <cstdint>

#include "framework/module.h"
#include "framework/singleton.h"

namespace Core_Wire {
class WireLinkLayer;
}

namespace Core_SOAPClient {

class InterfaceSOAPClient : public Core_Common::InterfaceModule,
                            public Core_Common::Singleton<InterfaceSOAPClient> {
public:
    void initialize() override {}
    void start() override {}
    void cleanup() override {}
    void uninitialize() override {}

    // The wire events (wire/wire_callback.h). A session never claims a link
    // it did not open; attach and on_sent do nothing.
    static bool recognize(const char* data, std::size_t size, std::uint32_t remote_address,
                          std::uint16_t remote_port, std::uint32_t local_address,
                          std::uint16_t local_port);
    static void attach(Core_Wire::WireLinkLayer* link, void*& owner);
    // Tells the session, then empties the owner slot.
    static void on_closed(Core_Wire::WireLinkLayer* link, void*& owner,
                          const boost::system::error_code& ec);
    static void on_connected(Core_Wire::WireLinkLayer* link, void* owner);
    static void on_connect_failed(Core_Wire::WireLinkLayer* link, void* owner,
                                  const boost::system::error_code& ec);
    static void on_received(Core_Wire::WireLinkLayer* link, void* owner, const char* data,
                            std::size_t size, std::size_t new_bytes, std::int32_t& consumed);
    static void on_sent(Core_Wire::WireLinkLayer* link, void* owner);
};

}  // namespace Core_SOAPClient
