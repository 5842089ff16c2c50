// Public engine surface: the log module, registered as
// "Core_Common::InterfaceLog".
//
// initialize creates the log dispatcher (common/log_dispatcher.h), replacing
// any existing one, with no sinks; uninitialize destroys it (not its sinks).
// The file sink is created and added by start-up, not by this module.
//
// Thread rule: the module's operations run on the main thread.
#pragma once

#include "framework/module.h"
#include "framework/singleton.h"

namespace Core_Common {

class InterfaceLog : public InterfaceModule, public Singleton<InterfaceLog> {
public:
    void initialize() override;
    void start() override {}
    void cleanup() override {}
    void uninitialize() override;
};

}  // namespace Core_Common
