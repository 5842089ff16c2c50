#include "startup/framework.h"

#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>

#include <atomic>
#include <cstdio>
#include <fstream>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "common/crypto_module.h"
#include "common/interface_message.h"
#include "common/interface_timer.h"
#include "common/log_dispatcher.h"
#include "common/log_module.h"
#include "common/message_queue.h"
#include "common/message_token.h"
#include "common/timer_handle.h"
#include "common/timer_queue.h"
#include "framework/registry.h"
#include "platform/host_process.h"
#include "platform/temp_dir_testing.h"
#include "platform/ticks.h"
#include "session/soap_client_module.h"
#include "socket/socket_module.h"
#include "socket/socket_settings.h"
#include "startup/start_up_settings.h"
#include "sync_client/zorvane_client.h"
#include "sync_client/zorvane_client_module.h"
#include "wire/wire_module.h"
#include "wire/wire_settings.h"

namespace Core_Common {
namespace {

// A tick source the tests move by hand: the monotonic clock plus a skew.
std::atomic<std::uint32_t> g_skew{0};
std::uint32_t skewed_ticks() { return Core_Platform::monotonic_tick_count32() + g_skew.load(); }
// A clock that moves only when the test moves it.
std::atomic<std::uint32_t> g_manual{1000000};
std::uint32_t manual_ticks() { return g_manual.load(); }

class Framework : public testing::Test {
protected:
    void SetUp() override {
        Core_Platform::override_host_executable_path(m_dir + "/browser.exe");
        start_up_settings() = start_up_settings_t{};
    }
    void TearDown() override {
        if (!registered_modules().empty()) {
            stop_framework();
        }
        Core_Platform::set_message_box_hook(nullptr);
        Core_Platform::override_host_executable_path("");
        start_up_settings() = start_up_settings_t{};
    }
    bool exists(const std::string& path) const {
        struct stat st {};
        return stat(path.c_str(), &st) == 0;
    }
    Core_Platform::testing::temp_dir_t m_tmp{"framework_test"};
    std::string m_dir = m_tmp.path().string();
};

const std::vector<std::string> kModuleNames = {
    "Core_Socket::InterfaceSocket",
    "Core_Wire::InterfaceWire",
    "Core_Common::InterfaceLog",
    "Core_Common::InterfaceMessage",
    "Core_Common::InterfaceTimer",
    "Core_Common::Crypto",
    "Core_SOAPClient::InterfaceSOAPClient",
    "Core_ZorvaneClient::InterfaceZorvaneClient",
};

std::vector<std::string> names_of(const std::vector<InterfaceModule*>& modules) {
    std::vector<std::string> names;
    for (InterfaceModule* m : modules) {
        names.push_back(m->m_name);
    }
    return names;
}

TEST_F(Framework, StartUpCreatesEightModulesInOrderThenStartsThem) {
    start_framework();
    const std::vector<InterfaceModule*> modules = registered_modules();
    EXPECT_EQ(names_of(modules), kModuleNames);
    ASSERT_EQ(modules.size(), 8u);
    EXPECT_EQ(modules[0], Core_Socket::InterfaceSocket::instance());
    EXPECT_EQ(modules[1], Core_Wire::InterfaceWire::instance());
    EXPECT_EQ(modules[2], InterfaceLog::instance());
    EXPECT_EQ(modules[3], InterfaceMessage::instance());
    EXPECT_EQ(modules[4], InterfaceTimer::instance());
    EXPECT_EQ(modules[5], Crypto::instance());
    EXPECT_EQ(modules[6], Core_SOAPClient::InterfaceSOAPClient::instance());
    EXPECT_EQ(modules[7], Core_ZorvaneClient::InterfaceZorvaneClient::instance());
    for (InterfaceModule* m : modules) {
        EXPECT_EQ(m->m_state, InterfaceModule::STATE_INITIALIZED) << m->m_name;
    }

    // Settings written, working objects created, bindings and log sink in place.
    EXPECT_EQ(Core_Socket::socket_incoming_threads.load(), 1);
    EXPECT_EQ(Core_Socket::socket_outgoing_threads.load(), 1);
    EXPECT_EQ(Core_Socket::tcp_io_timeout_seconds.load(), 10);
    EXPECT_EQ(Core_Socket::udp_min_send_interval.load(), 10);
    EXPECT_FALSE(Core_Wire::ENABLE_WIRE_SOCKET_THREAD.load());
    EXPECT_FALSE(Core_Wire::wire_direct_dispatch.load());
    EXPECT_NE(TimerQueue::current(), nullptr);
    EXPECT_NE(MessageQueue::current(), nullptr);
    EXPECT_TRUE(LogDispatcher::exists());
    EXPECT_EQ(LogDispatcher::sinks().size(), 1u);
    EXPECT_TRUE(layer_bindings_registered());

    start_modules();
    for (InterfaceModule* m : registered_modules()) {
        EXPECT_EQ(m->m_state, InterfaceModule::STATE_STARTED) << m->m_name;
    }
    EXPECT_FALSE(Core_Wire::InterfaceWire::is_stopping());
}

TEST_F(Framework, ShutdownDestroysStartedModulesWithoutCleanupOrUninitialize) {
    start_framework();
    start_modules();
    stop_framework();
    EXPECT_TRUE(registered_modules().empty());
    EXPECT_EQ(Core_Socket::InterfaceSocket::instance(), nullptr);
    EXPECT_EQ(Core_Wire::InterfaceWire::instance(), nullptr);
    EXPECT_EQ(InterfaceLog::instance(), nullptr);
    EXPECT_EQ(InterfaceMessage::instance(), nullptr);
    EXPECT_EQ(InterfaceTimer::instance(), nullptr);
    EXPECT_EQ(Crypto::instance(), nullptr);
    EXPECT_EQ(Core_SOAPClient::InterfaceSOAPClient::instance(), nullptr);
    EXPECT_EQ(Core_ZorvaneClient::InterfaceZorvaneClient::instance(), nullptr);
    EXPECT_FALSE(layer_bindings_registered());
    // Neither cleanup (the wire layer's stopping flag) nor uninitialize (the
    // queues and the dispatcher) ran on the started modules.
    EXPECT_FALSE(Core_Wire::InterfaceWire::is_stopping());
    EXPECT_NE(TimerQueue::current(), nullptr);
    EXPECT_NE(MessageQueue::current(), nullptr);
    EXPECT_TRUE(LogDispatcher::exists());
}

TEST_F(Framework, ShutdownOfInitialisedModulesUninitialisesThem) {
    start_framework();  // without start_modules: every module stays in state 1
    stop_framework();
    EXPECT_TRUE(registered_modules().empty());
    EXPECT_EQ(TimerQueue::current(), nullptr);
    EXPECT_EQ(MessageQueue::current(), nullptr);
    EXPECT_FALSE(LogDispatcher::exists());
}

TEST_F(Framework, StartsAgainAfterShutdownWithFreshModules) {
    for (int round = 0; round < 3; ++round) {
        start_framework();
        start_modules();
        EXPECT_EQ(names_of(registered_modules()), kModuleNames);
        EXPECT_EQ(LogDispatcher::sinks().size(), 1u) << round;
        EXPECT_TRUE(layer_bindings_registered());

        MessageToken token;
        int ran = 0;
        token.post([&ran] { ++ran; });
        process_pending();
        EXPECT_EQ(ran, 1) << round;
        stop_framework();
        EXPECT_TRUE(registered_modules().empty());
    }
}

TEST_F(Framework, SecondStartWithoutShutdownReplacesEverything) {
    start_framework();
    start_modules();
    InterfaceModule* old_timer = InterfaceTimer::instance();
    ASSERT_NE(old_timer, nullptr);
    start_framework();
    EXPECT_EQ(names_of(registered_modules()), kModuleNames);
    for (InterfaceModule* m : registered_modules()) {
        EXPECT_EQ(m->m_state, InterfaceModule::STATE_INITIALIZED) << m->m_name;
    }
    EXPECT_EQ(LogDispatcher::sinks().size(), 1u);
}

TEST_F(Framework, WireSocketThreadModeIsRefused) {
    // A fresh process: no earlier start-up of this process has registered
    // bindings or created the log file.
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    const std::string log_path = m_dir + "/browser.log";
    EXPECT_EXIT(
        {
            auto check = [](bool ok, const char* what) {
                if (!ok) {
                    std::fprintf(stderr, "failed: %s\n", what);
                    std::exit(1);
                }
            };
            std::vector<std::u16string> shown;
            Core_Platform::set_message_box_hook(
                [&shown](std::u16string_view text) { shown.emplace_back(text); });
            start_up_settings().enable_wire_socket_thread = true;
            start_framework();

            check(shown.size() == 1 && shown[0] == u"NOT ENABLE_WIRE_SOCKET_THREAD Error!",
                  "message box text");
            check(Core_Wire::wire_direct_dispatch.load(), "flag copied");
            check(names_of(registered_modules()) == kModuleNames, "modules registered");
            for (InterfaceModule* m : registered_modules()) {
                check(m->m_state == InterfaceModule::STATE_INITIALIZED, "modules initialised");
            }
            check(!layer_bindings_registered(), "bindings not registered");
            check(Core_Wire::InterfaceWire::protocol_client(
                      Core_Wire::InterfaceWire::soap_client_index) == nullptr,
                  "client entry 18 unset");
            check(Core_Wire::InterfaceWire::socket_func() == nullptr, "socket functions unset");
            check(Core_Socket::InterfaceSocket::tcp_callback() == nullptr, "TCP callback unset");
            check(LogDispatcher::sinks().empty(), "no log sink");
            struct stat st {};
            check(stat(log_path.c_str(), &st) != 0, "no log file");

            // The same process starts normally once the setting is off again,
            // and then creates its log file.
            stop_framework();
            start_up_settings().enable_wire_socket_thread = false;
            start_framework();
            check(!Core_Wire::wire_direct_dispatch.load(), "flag cleared");
            check(layer_bindings_registered(), "bindings registered");
            check(shown.size() == 1, "no second message box");
            check(stat(log_path.c_str(), &st) == 0, "log file after the normal start");
            stop_framework();
            std::exit(0);
        },
        testing::ExitedWithCode(0), "NOT ENABLE_WIRE_SOCKET_THREAD Error!");
}

TEST_F(Framework, LogFileIsCreatedBesideTheExecutableOncePerProcess) {
    // A fresh process, so that this is its first start-up.
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    const std::string log_path = m_dir + "/browser.log";
    EXPECT_EXIT(
        {
            auto fail = [](const char* why) {
                std::fprintf(stderr, "%s\n", why);
                std::exit(1);
            };
            {
                std::ofstream stale(log_path);
                stale << "left over from an earlier run";
            }
            start_framework();
            start_modules();
            struct stat st {};
            if (stat(log_path.c_str(), &st) != 0) fail("no log file");
            if (st.st_size != 0) fail("log file not empty");
            log_write(1, log_level_t::NORMAL, log_category_t::SOFT_UPDATE, "", 0, "off");
            if (stat(log_path.c_str(), &st) != 0 || st.st_size != 0) fail("wrote while off");

            set_log_enabled(true);
            log_write(1, log_level_t::NORMAL, log_category_t::SOFT_UPDATE, "", 0,
                      "Start Request Sync.");
            if (stat(log_path.c_str(), &st) != 0 || st.st_size != 1 + 15 + 14 + 19 + 2)
                fail("line size");
            stop_framework();

            // A second start-up reuses the sink: the file is not replaced.
            start_framework();
            start_modules();
            if (stat(log_path.c_str(), &st) != 0 || st.st_size != 51) fail("file replaced");
            log_write(1, log_level_t::ERROR, log_category_t::WIRE, "", 0, "Q");
            if (stat(log_path.c_str(), &st) != 0 || st.st_size != 51 + 33) fail("second line");
            stop_framework();
            std::exit(0);
        },
        testing::ExitedWithCode(0), "");
}

TEST_F(Framework, PumpRefusesAForeignThread) {
    start_framework();
    start_modules();
    MessageToken token;
    TimerHandle timer;
    int ran = 0;
    token.post([&ran] { ++ran; });
    g_skew.store(0);
    auto old_source = Core_Platform::set_tick_source(&skewed_ticks);
    timer.schedule(0, 0, "test timer", [&ran] { ran += 10; });
    g_skew.fetch_add(5);

    std::string caught;
    std::thread foreign([&caught] {
        try {
            process_pending();
        } catch (const std::runtime_error& e) {
            caught = e.what();
        }
    });
    foreign.join();
    EXPECT_EQ(caught, "crash");
    EXPECT_EQ(ran, 0);
    EXPECT_EQ(MessageQueue::current()->size(), 1u);
    EXPECT_TRUE(timer.armed());

    // The main thread runs both.
    process_pending();
    EXPECT_EQ(ran, 11);
    Core_Platform::set_tick_source(old_source);
}

TEST_F(Framework, PumpRunsDueTimersBeforeMessages) {
    start_framework();
    start_modules();
    // The clock stands still between the calls below, however slowly they
    // run (a sanitizer build can cross a millisecond between two lines).
    auto old_source = Core_Platform::set_tick_source(&manual_ticks);
    std::vector<std::string> order;
    MessageToken token;
    TimerHandle timer;
    token.post([&order] { order.push_back("message"); });
    timer.schedule(0, 0, "first", [&order] { order.push_back("timer"); });
    TimerHandle later;
    later.schedule(50, 0, "later", [&order] { order.push_back("later timer"); });

    process_pending();  // same millisecond: the timer is not due yet
    EXPECT_EQ(order, std::vector<std::string>{"message"});
    g_manual.fetch_add(1);
    token.post([&order] { order.push_back("message 2"); });
    process_pending();
    EXPECT_EQ(order, (std::vector<std::string>{"message", "timer", "message 2"}));
    g_manual.fetch_add(100);
    process_pending();
    EXPECT_EQ(order.back(), "later timer");
    Core_Platform::set_tick_source(old_source);
}

TEST_F(Framework, PumpStopsMessagesAfterTheBudgetAndResumesNextCall) {
    start_framework();
    start_modules();
    g_skew.store(0);
    auto old_source = Core_Platform::set_tick_source(&skewed_ticks);

    // Messages from several threads; the second one "takes" 1001 ms.
    std::vector<int> ran;
    MessageToken token;
    token.post([&ran] { ran.push_back(0); });
    token.post([&ran] {
        ran.push_back(1);
        g_skew.fetch_add(1001);
    });
    std::thread poster([&token, &ran] {
        for (int i = 2; i < 5; ++i) {
            token.post([&ran, i] { ran.push_back(i); });
        }
    });
    poster.join();

    process_pending();
    EXPECT_EQ(ran, (std::vector<int>{0, 1}));
    EXPECT_EQ(MessageQueue::current()->size(), 3u);
    EXPECT_EQ(token.pending_count(), 3u);

    process_pending();
    EXPECT_EQ(ran, (std::vector<int>{0, 1, 2, 3, 4}));
    EXPECT_EQ(token.pending_count(), 0u);
    Core_Platform::set_tick_source(old_source);
}

TEST_F(Framework, ShutdownRunsThePumpOnce) {
    start_framework();
    start_modules();
    MessageToken token;
    int ran = 0;
    token.post([&ran] { ++ran; });
    stop_framework();
    EXPECT_EQ(ran, 1);
}

// Shutdown, and the sync client's entry points, refuse a thread other than
// the one that started the framework before they change anything.
TEST_F(Framework, AForeignThreadIsRefusedBeforeItChangesAnything) {
    start_framework();
    start_modules();
    Core_ZorvaneClient::ZorvaneClient* client = Core_ZorvaneClient::ZorvaneClient::instance();
    ASSERT_NE(client, nullptr);
    std::vector<std::string> caught;
    const auto on_foreign_thread = [&caught](auto call) {
        std::thread foreign([&] {
            try {
                call();
                caught.emplace_back("ran");
            } catch (const std::runtime_error& e) {
                caught.emplace_back(e.what());
            }
        });
        foreign.join();
    };
    on_foreign_thread([] { stop_framework(); });
    on_foreign_thread([client] { client->set_user(u"alice", u"secret", 1); });
    on_foreign_thread([client] { client->start_update(true); });
    EXPECT_EQ(caught, (std::vector<std::string>{"crash", "crash", "crash"}));
    EXPECT_EQ(registered_modules().size(), 8u);
    EXPECT_TRUE(client->account().user_name.empty());
    EXPECT_EQ(client->status(), Core_ZorvaneClient::ACTION_IDLE);
}

}  // namespace
}  // namespace Core_Common
