// Public engine surface: the sync-client module, registered as
// "Core_ZorvaneClient::InterfaceZorvaneClient".
//
// initialize creates the single sync client (replacing any existing one);
// start gives it its server address; cleanup resets it; uninitialize
// destroys it. reset_client is what shutdown calls first.
//
// The client (sync_client/zorvane_client.h) exists from initialize to
// uninitialize; start reads the server host of sync_client/client_settings.h.
//
// Thread rule: everything here runs on the main thread.
#pragma once

#include "framework/module.h"
#include "framework/singleton.h"

namespace Core_ZorvaneClient {

class InterfaceZorvaneClient : public Core_Common::InterfaceModule,
                               public Core_Common::Singleton<InterfaceZorvaneClient> {
public:
    void initialize() override;
    void start() override;
    void cleanup() override;
    void uninitialize() override;

    // Cancels the sync client's current action and makes it idle, without
    // calling any completion callback. Does nothing when no client exists.
    static void reset_client();
};

}  // namespace Core_ZorvaneClient
