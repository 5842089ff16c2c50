// Public engine surface: starting, pumping and stopping the engine.
//
// A host (the component front, or a test) drives the engine like this, all
// on one thread, its main thread:
//
//     Core_Common::start_framework();   // create, configure, initialise
//     Core_Common::start_modules();     // start every module
//     ...
//     Core_Common::process_pending();   // call periodically: timers, messages
//     ...
//     Core_Common::stop_framework();    // tear down
//
// The pair may be repeated in one process: start_framework after
// stop_framework builds everything afresh.
//
// Start-up creates eight modules, in this order and under these names:
//   Core_Socket::InterfaceSocket                "Core_Socket::InterfaceSocket"
//   Core_Wire::InterfaceWire                    "Core_Wire::InterfaceWire"
//   Core_Common::InterfaceLog                   "Core_Common::InterfaceLog"
//   Core_Common::InterfaceMessage               "Core_Common::InterfaceMessage"
//   Core_Common::InterfaceTimer                 "Core_Common::InterfaceTimer"
//   Core_Common::Crypto                         "Core_Common::Crypto"
//   Core_SOAPClient::InterfaceSOAPClient        "Core_SOAPClient::InterfaceSOAPClient"
//   Core_ZorvaneClient::InterfaceZorvaneClient  "Core_ZorvaneClient::InterfaceZorvaneClient"
// Each is reached through its Singleton pointer; the registry
// (framework/registry.h) owns them.
//
// Thread rule: every function here runs on the main thread, the thread that
// called start_framework (process_pending refuses any other).
#pragma once

namespace Core_Common {

// The text start-up shows when the wire layer is set to handle socket events
// on the socket threads.
inline constexpr const char16_t* WIRE_SOCKET_THREAD_REFUSAL =
    u"NOT ENABLE_WIRE_SOCKET_THREAD Error!";

// Creates, configures and initialises the framework:
//   1. destroys the registry of an earlier start-up, if any, with its modules;
//   2. creates the eight modules (each replacing the instance its Singleton
//      pointer still holds) and registers them in the order above;
//   3. writes the settings (socket/socket_settings.h, wire/wire_settings.h)
//      from start_up_settings() (startup/start_up_settings.h): by default
//      1 incoming and 1 outgoing socket thread, TCP inactivity time-out
//      10 s, UDP send interval 10 ms, ENABLE_WIRE_SOCKET_THREAD off;
//   4. initialises every module in registry order;
//   5. if wire_direct_dispatch is set after that, shows the message box
//      WIRE_SOCKET_THREAD_REFUSAL and returns: the framework stays
//      initialised without layer bindings and without a log file;
//   6. registers the layer bindings (startup/layer_bindings.h);
//   7. once per process, creates the log file sink on the host executable's
//      log path (Core_Platform::log_path_for_executable); it lives until
//      process exit;
//   8. adds the file sink, if it exists, to the log dispatcher.
// An allocation failure while creating modules propagates; the modules
// created so far stay registered.
void start_framework();

// Starts every registered module that is initialised, in registry order.
void start_modules();

// The pump. On a thread other than the timer queue's owner (the thread that
// ran start_framework) it raises fatal_error() and runs nothing. Otherwise it
// runs the due timers (for at most about 1000 ms) and then drains the
// message queue (for at most about 1000 ms; what remains runs in the next
// call). Every completion of the network layers reaches its receiver inside
// this call. Without a timer queue (before the first start_framework) it
// returns at once. Exceptions of timers and messages propagate to the
// caller.
void process_pending();

// Tears the framework down:
//   1. resets the sync client (its current action is cancelled silently);
//   2. closes the listeners of the socket layer's TCP service;
//   3. runs process_pending once;
//   4. cleans up every stopped module, in registry order;
//   5. uninitialises every initialised module, in reverse registry order;
//   6. destroys the registry and with it every module.
// Modules that are still started (the normal case) are destroyed in step 6
// without stop, cleanup or uninitialize: their working objects (the timer
// and message queues, the log dispatcher, the network services) stay until
// the next start-up replaces them or the process ends, so a later
// process_pending on the main thread still runs what they hold.
// On a thread other than the timer queue's owner it raises fatal_error()
// before step 1 and changes nothing.
void stop_framework();

// True when the latest start_framework registered the layer bindings (step
// 6); false before any start-up, after a refused one, and after
// stop_framework.
bool layer_bindings_registered();

}  // namespace Core_Common
