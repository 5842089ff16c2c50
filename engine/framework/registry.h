// Public engine surface: the module registry and the per-module life-cycle
// transitions.
//
// The registry is the process-wide ordered list of the framework's modules;
// registration order is start-up order. It owns its modules: destroying the
// registry destroys every module in registration order through its virtual
// destructor (which also empties the module's Singleton pointer).
//
// Thread rule: the registry is changed only on the main thread, during
// start-up and shutdown. registered_modules may be read from other threads
// only while the framework is started (nothing changes it then).
#pragma once

#include <cstddef>
#include <memory>
#include <string>
#include <vector>

#include "framework/module.h"

namespace Core_Common {

// Stores `name` in the module's m_name and appends the module to the
// registry, which takes ownership. Returns the module. If appending fails
// (allocation), the module is destroyed and the error propagates.
InterfaceModule* register_module(std::unique_ptr<InterfaceModule> module, std::string name);

// The registered modules in registration order.
std::vector<InterfaceModule*> registered_modules();

// Destroys every registered module in registration order and leaves the
// registry empty. The registry is emptied before the first module is
// destroyed, so a destructor never sees a half-destroyed registry.
void destroy_registry();

// The per-module transitions. Each does nothing unless the module is in the
// state named; the operation runs first and the state changes only when it
// returns (an exception leaves the state as it was).
//   initialize_module:   state 0 → initialize → 1
//   start_module:        state 1 → start → 2
//   cleanup_module:      state 3 → cleanup → 1
//   uninitialize_module: state 1 → uninitialize → 0
void initialize_module(InterfaceModule& module);
void start_module(InterfaceModule& module);
void cleanup_module(InterfaceModule& module);
void uninitialize_module(InterfaceModule& module);

}  // namespace Core_Common
