// Runtime surface for hosts: starting and stopping the runtime.
//
// The host (the program that plays the browser) starts the runtime once
// before it loads any component, and shuts it down after it has released
// every object it got from components. Start-up creates the component
// manager (which is also the registrar and the service manager), the
// category manager and, unless the host asks to run without one, the
// observer service.
//
// Thread rule: zv_runtime_init, zv_runtime_shutdown and
// zv_runtime_register_module are for the host's main thread.
#pragma once

#include <cstdint>

#include "xpcom/export.h"
#include "xpcom/ns_result.h"

class nsIModule;

// Flags of zv_runtime_init.
inline constexpr std::uint32_t ZV_RUNTIME_DEFAULT = 0;
// Start without an observer service: asking for it fails with
// NS_ERROR_FACTORY_NOT_REGISTERED (for hosts and tests that check how
// components live without it).
inline constexpr std::uint32_t ZV_RUNTIME_NO_OBSERVER_SERVICE = 1u << 0;

// Starts the runtime. NS_ERROR_ALREADY_INITIALIZED when it runs already.
NS_RUNTIME_API nsresult zv_runtime_init(std::uint32_t flags = ZV_RUNTIME_DEFAULT);

// Stops the runtime: the services, registered factories, modules and
// observers are released, and NS_GetServiceManager fails from now on.
// Objects that still hold one of the managers keep a valid object whose
// methods fail with NS_ERROR_NOT_INITIALIZED. NS_ERROR_NOT_INITIALIZED when
// the runtime does not run. The runtime may be started again afterwards.
NS_RUNTIME_API nsresult zv_runtime_shutdown();

// True between zv_runtime_init and zv_runtime_shutdown.
NS_RUNTIME_API bool zv_runtime_running();

// Registers `module` (one reference kept until shut-down) as the module of
// the library at `location`, then lets it register itself (RegisterSelf).
// NS_ERROR_INVALID_ARG for a null module or location; NS_ERROR_FACTORY_EXISTS
// when a module is registered for `location` already; the module's failure
// otherwise (its own registrations may have happened in part).
NS_RUNTIME_API nsresult zv_runtime_register_module(nsIModule* module, const char* location);
