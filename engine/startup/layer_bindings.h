// Public engine surface: the hook through which start-up connects the
// network layers.
//
// Three layer pairs meet through abstract interfaces, connected by binding
// objects so that no layer names another layer's classes:
//   - the socket-function binding (implements Core_Wire::InterfaceSocketFunc,
//     forwards to Core_Socket::InterfaceSocket) goes into the wire layer's
//     socket-function pointer (Core_Wire::InterfaceWire::set_socket_func);
//   - the TCP-callback binding (implements Core_Socket::InterfaceSocketCallback,
//     forwards to Core_Wire::InterfaceWire) goes into the socket layer's
//     TCP-callback pointer (Core_Socket::InterfaceSocket::set_tcp_callback);
//   - the wire-client binding (implements Core_Wire::InterfaceWireCallback,
//     forwards to Core_SOAPClient::InterfaceSOAPClient) goes into entry 18
//     of the wire layer's protocol-client table
//     (Core_Wire::InterfaceWire::set_protocol_client with soap_client_index).
#pragma once

namespace Core_Common {

// Creates each binding object on its first call in the process (the objects
// are never destroyed, so the layers may keep their pointers for the life of
// the process) and registers all three as described above.
//
// Called by start_framework on the main thread, once per start-up, after
// every module has been initialised (the wire module's initialize has just
// cleared the table entry and the socket-function pointer) and only when
// wire_direct_dispatch is clear. Must register again on every call: a
// second start-up after a shutdown relies on it. Must not throw.
void register_layer_bindings();

}  // namespace Core_Common
