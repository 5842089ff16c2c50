#include "socket/async_connection.h"

#include <gtest/gtest.h>

#include <boost/asio/error.hpp>
#include <thread>

#include "platform/socket_errors.h"
#include "socket/async_service.h"
#include "socket/dropping_listener.h"
#include "socket/host_table.h"
#include "socket/scripted_peer.h"
#include "socket/socket_settings.h"
#include "socket/socket_test_support.h"

namespace Core_Socket {
namespace {

using namespace std::chrono_literals;
using testing::PeerConnection;
using testing::recording_user;
using testing::ScriptedPeer;
using testing::started_socket_module;

constexpr std::uint32_t kLoopbackValue =
    0x0100007Fu;  // 127.0.0.1 in network order (little-endian host)

bool is_end_of_file(const boost::system::error_code& ec) {
    return ec == boost::asio::error::eof && ec.value() == 2;
}

TEST(AsyncConnection, ConnectsExchangesBytesAndReportsThePeersCloseOnce) {
    recording_user user;
    started_socket_module socket(&user);
    ScriptedPeer peer([](PeerConnection& c) {
        EXPECT_EQ(c.read_exact(5), "hello");
        c.write("world!");
        c.close();
    });
    user.queue_send("hello");
    testing::connect_user(user, "127.0.0.1", peer.port());
    ASSERT_TRUE(user.wait_until([&] { return user.m_connected == 1; }));
    InterfaceSocket::tcp_send(&user, user.read([&] { return user.m_conn; }));
    ASSERT_TRUE(user.wait_until([&] { return user.m_closed == 1; }));
    std::this_thread::sleep_for(50ms);
    user.read([&] {
        EXPECT_EQ(user.m_received, "world!");
        EXPECT_TRUE(is_end_of_file(user.m_close_error)) << user.m_close_error.message();
        EXPECT_EQ(user.m_closed, 1);
        EXPECT_EQ(user.m_foreign_reports, 0);
        EXPECT_EQ(user.m_remote_address, kLoopbackValue);
        EXPECT_EQ(user.m_local_address, kLoopbackValue);
        EXPECT_EQ(user.m_remote_port, peer.port());
        EXPECT_NE(user.m_local_port, 0);
        EXPECT_EQ(user.m_thread_name, "SocketOutgoing");
        return 0;
    });
    EXPECT_EQ(socket.module().tcp_service()->connection_count(), 0u);
}

TEST(AsyncConnection, RefusedConnectIsReportedAsCloseWith10061) {
    recording_user user;
    started_socket_module socket(&user);
    testing::connect_user(user, "127.0.0.1", testing::refused_port());
    ASSERT_TRUE(user.wait_until([&] { return user.m_closed == 1; }));
    user.read([&] {
        EXPECT_EQ(user.m_connected, 0);
        EXPECT_EQ(user.m_close_error, Core_Platform::make_socket_error(10061));
        EXPECT_EQ(user.m_close_error.message(), "Connection refused");
        return 0;
    });
}

TEST(AsyncConnection, TriesTheAddressesOfANameInOrder) {
    recording_user user;
    started_socket_module socket(&user);
    ScriptedPeer peer([](PeerConnection& c) {
        c.write("x");
        c.wait_closed(5s);
    });
    // Nothing listens on ::1 at the peer's port: the first address refuses.
    set_host_addresses("two.addresses.test", {"::1", "127.0.0.1"});
    testing::connect_user(user, "two.addresses.test", peer.port());
    ASSERT_TRUE(user.wait_until([&] { return user.m_received == "x"; }));
    user.read([&] {
        EXPECT_EQ(user.m_connected, 1);
        EXPECT_EQ(user.m_remote_address, kLoopbackValue);
        return 0;
    });
    socket.module().stop();  // lets the peer see the close
    clear_host_table();
}

TEST(AsyncConnection, AllAddressesRefusingReportsTheLastErrorAndNeverConnects) {
    recording_user user;
    started_socket_module socket(&user);
    std::uint16_t port = testing::refused_port();
    set_host_addresses("none.listening.test", {"127.0.0.1", "::1"});
    testing::connect_user(user, "none.listening.test", port);
    ASSERT_TRUE(user.wait_until([&] { return user.m_closed == 1; }));
    user.read([&] {
        EXPECT_EQ(user.m_connected, 0);
        EXPECT_EQ(user.m_close_error.value(), Core_Platform::SOCKET_ERROR_CONNECTION_REFUSED);
        return 0;
    });
    clear_host_table();
}

TEST(AsyncConnection, ZeroReceiveAllowancePostponesReadingWithoutClosing) {
    recording_user user;
    user.recv_allowance.store(0);
    started_socket_module socket(&user);
    ScriptedPeer peer([](PeerConnection& c) {
        c.write("held back");
        c.wait_closed(10s);
    });
    testing::connect_user(user, "127.0.0.1", peer.port());
    ASSERT_TRUE(user.wait_until([&] { return user.m_connected == 1; }));
    const int asks_before = user.recv_allowance_asks.load();
    EXPECT_FALSE(user.wait_until([&] { return !user.m_received.empty() || user.m_closed; }, 300ms));
    // Each retry waits real time (1 to 49 ms): a handful of asks, where a
    // retry due at once would have asked tens of thousands of times.
    EXPECT_LT(user.recv_allowance_asks.load() - asks_before, 100);
    user.recv_allowance.store(4);  // a small allowance reads at most that many bytes
    ASSERT_TRUE(user.wait_until([&] { return user.m_received.size() >= 4; }));
    user.recv_allowance.store(0xFFFFFFFFu);
    ASSERT_TRUE(user.wait_until([&] { return user.m_received == "held back"; }));
    user.read([&] {
        EXPECT_EQ(user.m_closed, 0);
        return 0;
    });
    socket.module().stop();
}

// A server whose accept queue is full drops the connection attempt; the
// connect deadline ends it with 10060, though the inactivity time-out is
// longer and the system would retry for minutes.
TEST(AsyncConnection, ConnectAttemptsThatAreDroppedEndAtTheConnectDeadline) {
    testing::DroppingListener listener;
    ASSERT_TRUE(listener.full());
    const std::int32_t saved = tcp_connect_timeout_seconds.load();
    tcp_connect_timeout_seconds.store(1);
    recording_user user;
    started_socket_module socket(&user, 30);
    const auto started = std::chrono::steady_clock::now();
    testing::connect_user(user, "127.0.0.1", listener.port());
    tcp_connect_timeout_seconds.store(saved);
    ASSERT_TRUE(user.wait_until([&] { return user.m_closed == 1; }, 20s));
    EXPECT_GE(std::chrono::steady_clock::now() - started, 900ms);
    user.read([&] {
        EXPECT_EQ(user.m_connected, 0);
        EXPECT_EQ(user.m_close_error.value(), Core_Platform::SOCKET_ERROR_TIMED_OUT);
        return 0;
    });
    // The connection leaves the registry right after it reported its close.
    const auto give_up = std::chrono::steady_clock::now() + 10s;
    while (socket.module().tcp_service()->connection_count() != 0 &&
           std::chrono::steady_clock::now() < give_up) {
        std::this_thread::sleep_for(5ms);
    }
    EXPECT_EQ(socket.module().tcp_service()->connection_count(), 0u);
}

// Established, the connection is no longer bound by the connect deadline.
TEST(AsyncConnection, TheConnectDeadlineEndsWithTheConnect) {
    const std::int32_t saved = tcp_connect_timeout_seconds.load();
    tcp_connect_timeout_seconds.store(1);
    recording_user user;
    started_socket_module socket(&user, 0);  // and no inactivity time-out
    ScriptedPeer peer([](PeerConnection& c) { c.wait_closed(10s); });
    testing::connect_user(user, "127.0.0.1", peer.port());
    tcp_connect_timeout_seconds.store(saved);
    ASSERT_TRUE(user.wait_until([&] { return user.m_connected == 1; }));
    EXPECT_FALSE(user.wait_until([&] { return user.m_closed != 0; }, 2s));
    socket.module().stop();
}

TEST(AsyncConnection, ZeroSendAllowancePostponesSending) {
    recording_user user;
    user.send_allowance.store(0);
    started_socket_module socket(&user);
    ScriptedPeer peer([](PeerConnection& c) {
        c.write(c.read_exact(4));
        c.wait_closed(10s);
    });
    user.queue_send("ping");
    testing::connect_user(user, "127.0.0.1", peer.port());
    ASSERT_TRUE(user.wait_until([&] { return user.m_connected == 1; }));
    InterfaceSocket::tcp_send(&user, user.read([&] { return user.m_conn; }));
    EXPECT_FALSE(user.wait_until([&] { return user.m_sent > 0; }, 200ms));
    user.send_allowance.store(0xFFFFFFFFu);
    ASSERT_TRUE(user.wait_until([&] { return user.m_received == "ping"; }));
    socket.module().stop();
}

TEST(AsyncConnection, SilentConnectionTimesOutWith10060WhileTrafficKeepsItOpen) {
    recording_user silent;
    recording_user chatty;
    started_socket_module socket(&silent, 1);
    // Both users share the module's callback: route by link.
    struct router final : InterfaceSocketCallback {
        recording_user* a;
        recording_user* b;
        recording_user& pick(void* link) { return link == a ? *a : *b; }
        void on_tcp_accepted(void*, void*& l, const std::string&, std::uint16_t,
                             std::uint16_t) override {
            l = nullptr;
        }
        void on_tcp_closed(void* c, void*& l, const boost::system::error_code& ec) override {
            pick(l).on_tcp_closed(c, l, ec);
        }
        void on_tcp_connected(void* c, void* l, std::uint32_t la, std::uint16_t lp,
                              std::uint32_t ra, std::uint16_t rp) override {
            pick(l).on_tcp_connected(c, l, la, lp, ra, rp);
        }
        void get_recv_allowance(void* c, void* l, std::uint32_t& a2) override {
            pick(l).get_recv_allowance(c, l, a2);
        }
        void on_tcp_received(void* c, void* l, const char* d, std::size_t n) override {
            pick(l).on_tcp_received(c, l, d, n);
        }
        void get_send_allowance(void* c, void* l, std::uint32_t& a2) override {
            pick(l).get_send_allowance(c, l, a2);
        }
        void get_send_data(void* c, void* l, const char*& d, std::uint32_t& n) override {
            pick(l).get_send_data(c, l, d, n);
        }
        void on_send_data_taken(void* c, void* l, std::uint32_t n) override {
            pick(l).on_send_data_taken(c, l, n);
        }
        void on_udp_received(const udp_datagram_ptr&) override {}
        void get_udp_datagram(udp_datagram_ptr& d) override { d.reset(); }
    } both;
    both.a = &silent;
    both.b = &chatty;
    InterfaceSocket::set_tcp_callback(&both);
    ScriptedPeer quiet_peer([](PeerConnection& c) { c.wait_closed(10s); });
    ScriptedPeer talking_peer([](PeerConnection& c) {
        for (int i = 0; i < 8; ++i) {
            c.write(".");
            std::this_thread::sleep_for(250ms);
        }
        c.wait_closed(10s);
    });
    const auto started = std::chrono::steady_clock::now();
    testing::connect_user(silent, "127.0.0.1", quiet_peer.port());
    testing::connect_user(chatty, "127.0.0.1", talking_peer.port());
    ASSERT_TRUE(silent.wait_until([&] { return silent.m_closed == 1; }));
    EXPECT_GE(std::chrono::steady_clock::now() - started, 1s);
    silent.read([&] {
        EXPECT_EQ(silent.m_close_error.value(), Core_Platform::SOCKET_ERROR_TIMED_OUT);
        return 0;
    });
    ASSERT_TRUE(chatty.wait_until([&] { return chatty.m_received == "........"; }));
    chatty.read([&] {
        EXPECT_EQ(chatty.m_closed, 0);
        return 0;
    });
    ASSERT_TRUE(chatty.wait_until([&] { return chatty.m_closed == 1; }));
    chatty.read([&] {
        EXPECT_EQ(chatty.m_close_error.value(), Core_Platform::SOCKET_ERROR_TIMED_OUT);
        return 0;
    });
}

TEST(AsyncConnection, GracefulCloseEndsByThePeersCloseOrByTheTimeOut) {
    recording_user user;
    started_socket_module socket(&user, 1);
    std::atomic<bool> peer_saw_end{false};
    ScriptedPeer peer([&](PeerConnection& c) {
        // Sees our half-close as end of file but never closes itself.
        std::string got = c.read_exact(1);
        peer_saw_end.store(got.empty());
        std::this_thread::sleep_for(3s);
    });
    testing::connect_user(user, "127.0.0.1", peer.port());
    ASSERT_TRUE(user.wait_until([&] { return user.m_connected == 1; }));
    InterfaceSocket::tcp_close(&user, user.read([&] { return user.m_conn; }), true);
    ASSERT_TRUE(user.wait_until([&] { return user.m_closed == 1; }));
    user.read([&] {
        EXPECT_EQ(user.m_close_error.value(), Core_Platform::SOCKET_ERROR_TIMED_OUT);
        return 0;
    });
    EXPECT_TRUE(peer.wait_finished(1, 10s));
    EXPECT_TRUE(peer_saw_end.load());
}

TEST(AsyncConnection, ClosingTwiceReportsTheCloseOnceWithTheNoErrorCode) {
    recording_user user;
    started_socket_module socket(&user);
    ScriptedPeer peer([](PeerConnection& c) { c.wait_closed(10s); });
    testing::connect_user(user, "127.0.0.1", peer.port());
    ASSERT_TRUE(user.wait_until([&] { return user.m_connected == 1; }));
    void* conn = user.read([&] { return user.m_conn; });
    InterfaceSocket::tcp_close(&user, conn, false);
    ASSERT_TRUE(user.wait_until([&] { return user.m_closed == 1; }));
    EXPECT_TRUE(peer.wait_finished(1, 10s));
    user.read([&] {
        EXPECT_EQ(user.m_closed, 1);
        EXPECT_FALSE(user.m_close_error);
        EXPECT_EQ(&user.m_close_error.category(), &boost::system::system_category());
        return 0;
    });
}

TEST(AsyncConnection, CloseBeforeTheConnectCompletesIsReportedOnce) {
    recording_user user;
    started_socket_module socket(&user);
    void* conn = nullptr;
    InterfaceSocket::tcp_connect(&user, conn, "127.0.0.1", testing::refused_port(), false);
    // Like the wire layer, close only while the connection has not reported
    // its close (the user's lock holds that report back meanwhile).
    user.read([&] {
        user.m_conn = conn;
        if (user.m_closed == 0) {
            InterfaceSocket::tcp_close(&user, conn, false);
        }
        return 0;
    });
    ASSERT_TRUE(user.wait_until([&] { return user.m_closed >= 1; }));
    std::this_thread::sleep_for(100ms);
    user.read([&] {
        EXPECT_EQ(user.m_closed, 1);
        EXPECT_EQ(user.m_connected, 0);
        return 0;
    });
}

}  // namespace
}  // namespace Core_Socket
