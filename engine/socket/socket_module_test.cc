#include "socket/socket_module.h"

#include <gtest/gtest.h>

#include <ctime>
#include <sstream>
#include <thread>

#include "platform/socket_errors.h"
#include "socket/async_connection.h"
#include "socket/async_service.h"
#include "socket/scripted_peer.h"
#include "socket/socket_startup.h"
#include "socket/socket_test_support.h"
#include "socket/udp_service.h"

namespace Core_Socket {
namespace {

using namespace std::chrono_literals;
using testing::PeerConnection;
using testing::recording_user;
using testing::ScriptedPeer;
using testing::started_socket_module;

TEST(SocketStartUp, ReportsVersionTwoTwo) {
    recording_user user;
    started_socket_module socket(&user);
    EXPECT_EQ(winsock_status_text(), u" v2.2");
}

TEST(SocketStartUp, AnotherVersionIsRefusedWithItsText) {
    Core_Platform::set_last_socket_error(0);
    EXPECT_THROW(apply_socket_startup(true, {1, 1}), int);
    EXPECT_EQ(winsock_status_text(), u" v1.1");
    EXPECT_EQ(Core_Platform::last_socket_error(), 10092);
    EXPECT_THROW(apply_socket_startup(true, {3, 7}), int);
    EXPECT_EQ(winsock_status_text(), u" vx.x");
    EXPECT_THROW(apply_socket_startup(false, {0, 0}), int);
    EXPECT_EQ(winsock_status_text(), u" WSAStartup failed");
    EXPECT_NO_THROW(apply_socket_startup(true, {2, 2}));
    EXPECT_EQ(winsock_status_text(), u" v2.2");
}

TEST(SocketModule, StartRunsOneThreadPerContextAndCleanupEndsThem) {
    recording_user user;
    started_socket_module socket(&user);
    std::this_thread::sleep_for(50ms);  // the keep-alive timers keep them running
    EXPECT_EQ(socket.module().tcp_service()->running_threads(), 2u);
    EXPECT_EQ(socket.module().udp()->running_threads(), 1u);
    socket.module().stop();
    socket.module().cleanup();
    EXPECT_EQ(socket.module().tcp_service()->running_threads(), 0u);
    EXPECT_EQ(socket.module().udp()->running_threads(), 0u);
}

TEST(SocketModule, IdleServiceThreadsWaitWithoutUsingTheProcessor) {
    recording_user user;
    started_socket_module socket(&user);
    std::this_thread::sleep_for(50ms);
    const std::clock_t before = std::clock();  // processor time of the whole process
    std::this_thread::sleep_for(500ms);
    const double used_ms = 1000.0 * static_cast<double>(std::clock() - before) / CLOCKS_PER_SEC;
    EXPECT_LT(used_ms, 25.0);
    EXPECT_EQ(socket.module().tcp_service()->running_threads(), 2u);
}

TEST(SocketModule, ReportShowsConnectionRecordsAndBacklog) {
    recording_user user;
    started_socket_module socket(&user);
    std::ostringstream out;
    socket.module().report_status(out);
    EXPECT_EQ(out.str(),
              "=== Socket Layer (ASIO TCP) ===\n"
              "async_connection objects = 0, capacity = 0, mem = 0KB\n"
              "listen backlog = 2147483647\n");

    ScriptedPeer peer([](PeerConnection& c) { c.wait_closed(10s); });
    testing::connect_user(user, "127.0.0.1", peer.port());
    ASSERT_TRUE(user.wait_until([&] { return user.m_connected == 1; }));
    std::ostringstream busy;
    socket.module().report_status(busy);
    const auto figures = async_service::connection_figures();
    std::ostringstream line;
    line << "async_connection objects = 1, capacity = " << figures.capacity
         << ", mem = " << ((std::uint64_t{figures.capacity} * figures.record_size) >> 10) << "KB\n";
    EXPECT_NE(busy.str().find(line.str()), std::string::npos) << busy.str();
    EXPECT_GT(figures.capacity, 0u);
    socket.module().stop();
}

TEST(SocketModule, StopClosesEveryConnectionWithTheNoErrorCode) {
    recording_user user;
    started_socket_module socket(&user);
    ScriptedPeer peer([](PeerConnection& c) { c.wait_closed(10s); });
    testing::connect_user(user, "127.0.0.1", peer.port());
    ASSERT_TRUE(user.wait_until([&] { return user.m_connected == 1; }));
    socket.module().stop();
    ASSERT_TRUE(user.wait_until([&] { return user.m_closed == 1; }));
    user.read([&] {
        EXPECT_FALSE(user.m_close_error);
        return 0;
    });
    EXPECT_TRUE(peer.wait_finished(1, 10s));
}

TEST(SocketModule, ConnectInStoppedStateClosesWith10053) {
    recording_user user;
    started_socket_module socket(&user);
    socket.module().m_state = Core_Common::InterfaceModule::STATE_STOPPED;
    testing::connect_user(user, "127.0.0.1", testing::refused_port());
    ASSERT_TRUE(user.wait_until([&] { return user.m_closed == 1; }));
    user.read([&] {
        EXPECT_EQ(user.m_close_error.value(), Core_Platform::SOCKET_ERROR_CONNECTION_ABORTED);
        EXPECT_EQ(user.m_connected, 0);
        return 0;
    });
}

TEST(SocketModule, ConnectBeforeStartIsAFatalError) {
    recording_user user;
    InterfaceSocket::reset_instance(new InterfaceSocket);
    InterfaceSocket::instance()->initialize();
    InterfaceSocket::instance()->m_state = Core_Common::InterfaceModule::STATE_INITIALIZED;
    void* conn = nullptr;
    EXPECT_THROW(InterfaceSocket::tcp_connect(&user, conn, "127.0.0.1", 1, false),
                 std::runtime_error);
    EXPECT_EQ(conn, nullptr);
    InterfaceSocket::reset_instance();
}

// Shutdown destroys a started module without stop, cleanup or uninitialize:
// the destructor must still end the service threads and tell every open
// connection's user that it closed.
TEST(SocketModule, DestroyingAStartedModuleEndsItsThreadsAndClosesConnections) {
    recording_user user;
    ScriptedPeer peer([](PeerConnection& c) { c.wait_closed(10s); });
    {
        started_socket_module socket(&user);
        testing::connect_user(user, "127.0.0.1", peer.port());
        ASSERT_TRUE(user.wait_until([&] { return user.m_connected == 1; }));
        InterfaceSocket::reset_instance();  // what the framework's shutdown does
        user.read([&] {
            EXPECT_EQ(user.m_closed, 1);
            EXPECT_EQ(user.m_close_error.value(), Core_Platform::SOCKET_ERROR_OPERATION_ABORTED);
            return 0;
        });
    }
    EXPECT_TRUE(peer.wait_finished(1, 10s));
}

}  // namespace
}  // namespace Core_Socket
