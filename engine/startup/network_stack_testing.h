// Test support, internal to the engine's tests: the network stack started
// the way start-up starts it (message queue, timers, socket and wire
// modules, the layer bindings), and a pump that runs timers and messages on
// the test's thread the way the framework's pump does.
#pragma once

#include <chrono>
#include <functional>
#include <thread>
#include <vector>

#include "common/interface_message.h"
#include "common/interface_timer.h"
#include "common/message_queue.h"
#include "common/timer_queue.h"
#include "framework/registry.h"
#include "session/soap_client_module.h"
#include "socket/socket_module.h"
#include "socket/socket_settings.h"
#include "startup/layer_bindings.h"
#include "wire/wire_module.h"

namespace Core_Wire::testing {

class network_stack {
public:
    explicit network_stack(int timeout_seconds = 10) {
        m_saved_timeout = Core_Socket::tcp_io_timeout_seconds.load();
        Core_Socket::socket_incoming_threads.store(1);
        Core_Socket::socket_outgoing_threads.store(1);
        Core_Socket::tcp_io_timeout_seconds.store(timeout_seconds);
        Core_Socket::InterfaceSocket::reset_instance(new Core_Socket::InterfaceSocket);
        InterfaceWire::reset_instance(new InterfaceWire);
        Core_Common::InterfaceMessage::reset_instance(new Core_Common::InterfaceMessage);
        Core_Common::InterfaceTimer::reset_instance(new Core_Common::InterfaceTimer);
        Core_SOAPClient::InterfaceSOAPClient::reset_instance(
            new Core_SOAPClient::InterfaceSOAPClient);
        for (Core_Common::InterfaceModule* m : modules()) {
            Core_Common::initialize_module(*m);
        }
        Core_Common::register_layer_bindings();
        for (Core_Common::InterfaceModule* m : modules()) {
            Core_Common::start_module(*m);
        }
    }

    // Torn down in the order of the framework's shutdown when modules were
    // stopped: stop, cleanup in start order, uninitialize in reverse.
    ~network_stack() {
        for (Core_Common::InterfaceModule* m : modules()) {
            m->stop();
        }
        pump_for(std::chrono::milliseconds(20));
        for (Core_Common::InterfaceModule* m : modules()) {
            m->cleanup();
        }
        auto all = modules();
        for (auto it = all.rbegin(); it != all.rend(); ++it) {
            (*it)->uninitialize();
        }
        Core_SOAPClient::InterfaceSOAPClient::reset_instance();
        Core_Common::InterfaceTimer::reset_instance();
        Core_Common::InterfaceMessage::reset_instance();
        InterfaceWire::reset_instance();
        Core_Socket::InterfaceSocket::reset_instance();
        Core_Socket::tcp_io_timeout_seconds.store(m_saved_timeout);
    }

    // One pass of the framework's pump.
    static void pump() {
        if (Core_Common::TimerQueue* timers = Core_Common::TimerQueue::current()) {
            timers->run_due();
        }
        if (auto queue = Core_Common::MessageQueue::current()) {
            queue->drain();
        }
    }

    // Pumps until `done` holds or `wait` has passed; true when it holds.
    static bool pump_until(const std::function<bool()>& done,
                           std::chrono::milliseconds wait = std::chrono::seconds(10)) {
        const auto deadline = std::chrono::steady_clock::now() + wait;
        for (;;) {
            pump();
            if (done()) {
                return true;
            }
            if (std::chrono::steady_clock::now() >= deadline) {
                return false;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
    }

    static void pump_for(std::chrono::milliseconds wait) {
        pump_until([] { return false; }, wait);
    }

private:
    // The modules still alive (a test may have destroyed them itself).
    static std::vector<Core_Common::InterfaceModule*> modules() {
        std::vector<Core_Common::InterfaceModule*> all = {
            Core_Socket::InterfaceSocket::instance(), InterfaceWire::instance(),
            Core_Common::InterfaceMessage::instance(), Core_Common::InterfaceTimer::instance(),
            Core_SOAPClient::InterfaceSOAPClient::instance()};
        std::erase(all, nullptr);
        return all;
    }

    std::int32_t m_saved_timeout;
};

}  // namespace Core_Wire::testing
