// Public engine surface: the cryptography module, registered as
// "Core_Common::Crypto".
//
// initialize creates the module's working object and uninitialize destroys
// it; the other slots keep the base behaviour (start and cleanup do
// nothing).
//
// Thread rule: the module's operations run on the main thread.
#pragma once

#include "framework/module.h"
#include "framework/singleton.h"

namespace Core_Common {

class Crypto : public InterfaceModule, public Singleton<Crypto> {
public:
    void initialize() override;
    void start() override {}
    void cleanup() override {}
    void uninitialize() override;
};

}  // namespace Core_Common
