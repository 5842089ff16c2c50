// Public engine surface: the base class of every module.
//
// Every long-lived service of the engine is a module: one object of a class
// derived from InterfaceModule per process, created, named and driven through
// its life-cycle by the framework (framework/registry.h). A module is reached
// by other code through its Singleton pointer (framework/singleton.h).
//
// Life-cycle states: 0 created, 1 initialised, 2 started, 3 stopped. The
// framework's per-module transitions move a module between them; a module's
// own code never changes m_state.
//
// Thread rule: every operation of this class runs on the main thread (the
// thread that starts the framework).
#pragma once

#include <cstdint>
#include <ostream>
#include <string>

namespace Core_Common {

class InterfaceModule {
public:
    enum state_enum : std::int32_t {
        STATE_CREATED = 0,
        STATE_INITIALIZED = 1,
        STATE_STARTED = 2,
        STATE_STOPPED = 3,
    };

    InterfaceModule() = default;
    InterfaceModule(const InterfaceModule&) = delete;
    InterfaceModule& operator=(const InterfaceModule&) = delete;
    // Releases only the name; a module's working objects are released by
    // uninitialize (a started module reaching shutdown is destroyed without it).
    virtual ~InterfaceModule() = default;

    // Creates the module's working objects and stores them where other
    // modules find them.
    virtual void initialize() = 0;
    // Begins operation (start threads, connect configuration).
    virtual void start() = 0;
    // Stops operation (close connections, stop threads). Base: nothing.
    virtual void stop() {}
    // Releases what stopping left behind.
    virtual void cleanup() = 0;
    // Destroys the working objects created by initialize.
    virtual void uninitialize() = 0;
    // Appends a diagnostic summary: lines of a name, " = " and a value,
    // memory in KiB followed by "KB". Base: writes nothing.
    virtual void report_status(std::ostream& /*out*/) {}

    std::int32_t m_state = STATE_CREATED;
    // The registered name; empty until registration.
    std::string m_name;
};

}  // namespace Core_Common
