#include "socket/udp_service.h"

#include <gtest/gtest.h>

#include <boost/asio/ip/udp.hpp>
#include <thread>

#include "socket/socket_settings.h"
#include "socket/socket_testing.h"

namespace Core_Socket {
namespace {

using namespace std::chrono_literals;
using testing::recording_user;
using testing::started_socket_module;

udp_datagram_ptr datagram_to(std::uint16_t port, std::string bytes) {
    auto d = std::make_shared<udp_datagram_t>();
    d->host = "127.0.0.1";
    d->port = port;
    d->bytes = std::move(bytes);
    return d;
}

TEST(UdpService, SendWithoutAnOpenSocketDoesNothing) {
    recording_user user;
    started_socket_module socket(&user);
    user.queue_datagram(datagram_to(9, "never"));
    InterfaceSocket::udp_send();
    std::this_thread::sleep_for(100ms);
    EXPECT_EQ(user.read([&] { return user.m_datagram_asks; }), 0);
    EXPECT_EQ(socket.module().udp()->running_threads(), 1u);
}

TEST(UdpService, QueuedDatagramsLeaveNoCloserThanTheMinimumInterval) {
    recording_user user;
    const auto saved = udp_min_send_interval.load();
    udp_min_send_interval.store(10);
    started_socket_module socket(&user);

    boost::asio::io_context context;
    boost::asio::ip::udp::socket receiver(
        context, boost::asio::ip::udp::endpoint(boost::asio::ip::make_address("127.0.0.1"), 0));
    const std::uint16_t port = receiver.local_endpoint().port();

    ASSERT_TRUE(socket.module().udp()->open("127.0.0.1", 0));
    user.queue_datagram(datagram_to(port, "first"));
    user.queue_datagram(datagram_to(port, "second"));
    // Measured from before the first send: the receiving side may be slow
    // to read the first datagram, never early to read the second.
    const auto sent_at = std::chrono::steady_clock::now();
    InterfaceSocket::udp_send();

    char buffer[64];
    boost::asio::ip::udp::endpoint from;
    std::size_t n = receiver.receive_from(boost::asio::buffer(buffer), from);
    EXPECT_EQ(std::string(buffer, n), "first");
    n = receiver.receive_from(boost::asio::buffer(buffer), from);
    const auto second_at = std::chrono::steady_clock::now();
    EXPECT_EQ(std::string(buffer, n), "second");
    EXPECT_GE(second_at - sent_at, 9ms);  // the tick counts whole milliseconds

    // Datagrams sent to the service are handed up.
    receiver.send_to(boost::asio::buffer(std::string("reply")), from);
    ASSERT_TRUE(user.wait_until([&] { return !user.m_datagrams_received.empty(); }));
    user.read([&] {
        EXPECT_EQ(user.m_datagrams_received[0]->bytes, "reply");
        EXPECT_EQ(user.m_datagrams_received[0]->port, port);
        return 0;
    });
    socket.module().stop();
    EXPECT_EQ(socket.module().udp()->local_port(), 0);
    udp_min_send_interval.store(saved);
}

}  // namespace
}  // namespace Core_Socket
