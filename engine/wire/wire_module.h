// Public engine surface: the wire module, registered as
// "Core_Wire::InterfaceWire".
//
// The module owns the wire layer's process-wide state: the dispatch mode
// (wire/wire_settings.h), the table of 21 protocol-client callbacks (entry 0
// is never used; entry 18 is the session client's), the pointer to the
// socket functions the wire layer calls, and the stopping flag the session
// client consults before it connects. Start-up's layer bindings
// (framework/layer_bindings.h) fill the table entry and the socket-function
// pointer after initialize.
//
// Thread rule: the module's operations and the setters run on the main
// thread; the getters may be called from any thread.
#pragma once

#include <cstddef>

#include "framework/module.h"
#include "framework/singleton.h"

namespace Core_Wire {

class InterfaceWireCallback;
class InterfaceSocketFunc;

class InterfaceWire : public Core_Common::InterfaceModule,
                      public Core_Common::Singleton<InterfaceWire> {
public:
    static constexpr std::size_t protocol_client_count = 21;
    // The table entry of the session client's binding.
    static constexpr std::size_t soap_client_index = 18;

    // Copies ENABLE_WIRE_SOCKET_THREAD into wire_direct_dispatch, clears the
    // protocol-client table and the socket-function pointer.
    void initialize() override;
    // Clears the stopping flag.
    void start() override;
    // Sets the stopping flag.
    void cleanup() override;
    void uninitialize() override;

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
};

}  // namespace Core_Wire
