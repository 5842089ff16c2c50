#include "startup/framework.h"

#include <memory>
#include <string>

#include "common/crypto_module.h"
#include "common/interface_message.h"
#include "common/interface_timer.h"
#include "common/log_dispatcher.h"
#include "common/log_file_sink.h"
#include "common/log_module.h"
#include "common/main_thread.h"
#include "common/message_queue.h"
#include "common/timer_queue.h"
#include "framework/registry.h"
#include "platform/host_process.h"
#include "session/session_settings.h"
#include "session/soap_client_module.h"
#include "socket/socket_module.h"
#include "socket/socket_settings.h"
#include "startup/layer_bindings.h"
#include "startup/start_up_settings.h"
#include "sync_client/zorvane_client_module.h"
#include "wire/wire_module.h"
#include "wire/wire_settings.h"

namespace Core_Common {
namespace {

bool g_bindings_registered = false;

// The process's log file sink: created by the first start-up that gets that
// far, destroyed at process exit (after taking itself out of the dispatcher,
// which outlives it).
class file_sink_holder {
public:
    ~file_sink_holder() {
        if (m_sink) {
            LogDispatcher::remove_sink(m_sink.get());
        }
    }
    void create_once() {
        if (m_created) {
            return;
        }
        m_created = true;
        const std::string path =
            Core_Platform::log_path_for_executable(Core_Platform::host_executable_path());
        if (!path.empty()) {
            m_sink = std::make_unique<InterfaceLogCallbackFile>(path);
        }
    }
    InterfaceLogCallbackFile* sink() const { return m_sink.get(); }

private:
    bool m_created = false;
    std::unique_ptr<InterfaceLogCallbackFile> m_sink;
};

file_sink_holder& file_sink() {
    static file_sink_holder holder;
    return holder;
}

// Replaces the instance T's Singleton pointer holds by a new one and
// registers it under `name`.
template <class T>
void create_module(const char* name) {
    T::reset_instance(nullptr);
    auto module = std::make_unique<T>();
    T::reset_instance(module.get());
    register_module(std::move(module), name);
}

}  // namespace

void start_framework() {
    g_bindings_registered = false;
    destroy_registry();

    create_module<Core_Socket::InterfaceSocket>("Core_Socket::InterfaceSocket");
    create_module<Core_Wire::InterfaceWire>("Core_Wire::InterfaceWire");
    create_module<InterfaceLog>("Core_Common::InterfaceLog");
    create_module<InterfaceMessage>("Core_Common::InterfaceMessage");
    create_module<InterfaceTimer>("Core_Common::InterfaceTimer");
    create_module<Crypto>("Core_Common::Crypto");
    create_module<Core_SOAPClient::InterfaceSOAPClient>("Core_SOAPClient::InterfaceSOAPClient");
    create_module<Core_ZorvaneClient::InterfaceZorvaneClient>(
        "Core_ZorvaneClient::InterfaceZorvaneClient");

    const start_up_settings_t& settings = start_up_settings();
    Core_Socket::socket_incoming_threads.store(settings.socket_incoming_threads);
    Core_Socket::socket_outgoing_threads.store(settings.socket_outgoing_threads);
    Core_Socket::tcp_io_timeout_seconds.store(settings.tcp_io_timeout_seconds);
    Core_Socket::tcp_connect_timeout_seconds.store(settings.tcp_connect_timeout_seconds);
    Core_SOAPClient::session_reply_timeout_seconds.store(settings.session_reply_timeout_seconds);
    Core_Socket::udp_min_send_interval.store(settings.udp_min_send_interval);
    Core_Wire::ENABLE_WIRE_SOCKET_THREAD.store(settings.enable_wire_socket_thread);

    for (InterfaceModule* module : registered_modules()) {
        initialize_module(*module);
    }

    if (Core_Wire::wire_direct_dispatch.load()) {
        Core_Platform::show_message_box(WIRE_SOCKET_THREAD_REFUSAL);
        return;
    }

    register_layer_bindings();
    g_bindings_registered = true;

    file_sink().create_once();
    if (InterfaceLogCallbackFile* sink = file_sink().sink()) {
        LogDispatcher::add_sink(sink);
    }
}

void start_modules() {
    for (InterfaceModule* module : registered_modules()) {
        start_module(*module);
    }
}

void process_pending() {
    TimerQueue* timers = TimerQueue::current();
    if (timers == nullptr) {
        return;
    }
    timers->check_owner();
    timers->run_due();
    if (std::shared_ptr<MessageQueue> messages = MessageQueue::current()) {
        messages->drain();
    }
}

void stop_framework() {
    // Refuse a foreign thread before anything is torn down, not only at the
    // pump of step 3.
    expect_main_thread();
    Core_ZorvaneClient::InterfaceZorvaneClient::reset_client();
    if (Core_Socket::InterfaceSocket* socket = Core_Socket::InterfaceSocket::instance()) {
        socket->close_listeners();
    }
    process_pending();

    const std::vector<InterfaceModule*> modules = registered_modules();
    for (InterfaceModule* module : modules) {
        cleanup_module(*module);
    }
    for (auto it = modules.rbegin(); it != modules.rend(); ++it) {
        uninitialize_module(**it);
    }
    destroy_registry();
    g_bindings_registered = false;
}

bool layer_bindings_registered() { return g_bindings_registered; }

}  // namespace Core_Common
