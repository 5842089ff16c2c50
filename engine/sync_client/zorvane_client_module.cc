#include "sync_client/zorvane_client_module.h"

namespace Core_ZorvaneClient {

void InterfaceZorvaneClient::initialize() {}

void InterfaceZorvaneClient::start() {}

void InterfaceZorvaneClient::cleanup() { reset_client(); }

void InterfaceZorvaneClient::uninitialize() {}

void InterfaceZorvaneClient::reset_client() {}

}  // namespace Core_ZorvaneClient
