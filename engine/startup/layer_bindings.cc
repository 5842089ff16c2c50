// The layer bindings of start-up (startup/layer_bindings.h): the one place
// that names the three layers' classes together.
#include "startup/layer_bindings.h"

#include "session/soap_client_module.h"
#include "socket/socket_callback.h"
#include "socket/socket_module.h"
#include "wire/socket_func.h"
#include "wire/wire_callback.h"
#include "wire/wire_module.h"

namespace Core_Common {

void register_layer_bindings() {
    // Created once per process and never destroyed: the layers keep their
    // pointers for the life of the process.
    static auto* socket_func =
        new Core_Wire::InterfaceSocketFuncTemplate<class Core_Socket::InterfaceSocket>();
    static auto* tcp_callback =
        new Core_Socket::InterfaceSocketTCPCallbackTemplate<class Core_Wire::InterfaceWire>();
    static auto* soap_client = new Core_Wire::InterfaceWireCallbackClientTemplate<
        class Core_SOAPClient::InterfaceSOAPClient>();
    Core_Wire::InterfaceWire::set_socket_func(socket_func);
    Core_Socket::InterfaceSocket::set_tcp_callback(tcp_callback);
    Core_Wire::InterfaceWire::set_protocol_client(Core_Wire::InterfaceWire::soap_client_index,
                                                  soap_client);
}

}  // namespace Core_Common
