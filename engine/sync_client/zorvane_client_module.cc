#include "sync_client/zorvane_client_module.h"

#include "sync_client/client_settings.h"
#include "sync_client/zorvane_client.h"

namespace Core_ZorvaneClient {

void InterfaceZorvaneClient::initialize() { ZorvaneClient::reset_instance(new ZorvaneClient); }

void InterfaceZorvaneClient::start() {
    if (ZorvaneClient* client = ZorvaneClient::instance()) {
        client->set_server(server_host(), server_port, 0, 0);
    }
}

void InterfaceZorvaneClient::cleanup() { reset_client(); }

void InterfaceZorvaneClient::uninitialize() { ZorvaneClient::reset_instance(); }

void InterfaceZorvaneClient::reset_client() {
    if (ZorvaneClient* client = ZorvaneClient::instance()) {
        client->reset();
    }
}

}  // namespace Core_ZorvaneClient
