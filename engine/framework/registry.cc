#include "framework/registry.h"

#include <utility>

namespace Core_Common {
namespace {

std::vector<std::unique_ptr<InterfaceModule>>& registry() {
    static std::vector<std::unique_ptr<InterfaceModule>> modules;
    return modules;
}

}  // namespace

InterfaceModule* register_module(std::unique_ptr<InterfaceModule> module, std::string name) {
    module->m_name = std::move(name);
    registry().push_back(std::move(module));
    return registry().back().get();
}

std::vector<InterfaceModule*> registered_modules() {
    std::vector<InterfaceModule*> out;
    out.reserve(registry().size());
    for (const auto& module : registry()) {
        out.push_back(module.get());
    }
    return out;
}

void destroy_registry() {
    std::vector<std::unique_ptr<InterfaceModule>> doomed;
    doomed.swap(registry());
    for (auto& module : doomed) {
        module.reset();
    }
}

void initialize_module(InterfaceModule& module) {
    if (module.m_state == InterfaceModule::STATE_CREATED) {
        module.initialize();
        module.m_state = InterfaceModule::STATE_INITIALIZED;
    }
}

void start_module(InterfaceModule& module) {
    if (module.m_state == InterfaceModule::STATE_INITIALIZED) {
        module.start();
        module.m_state = InterfaceModule::STATE_STARTED;
    }
}

void cleanup_module(InterfaceModule& module) {
    if (module.m_state == InterfaceModule::STATE_STOPPED) {
        module.cleanup();
        module.m_state = InterfaceModule::STATE_INITIALIZED;
    }
}

void uninitialize_module(InterfaceModule& module) {
    if (module.m_state == InterfaceModule::STATE_INITIALIZED) {
        module.uninitialize();
        module.m_state = InterfaceModule::STATE_CREATED;
    }
}

}  // namespace Core_Common
