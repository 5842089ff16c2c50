#include "session/soap_handler.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "platform/socket_errors.h"
#include "session/session_format.h"
#include "session/session_settings.h"
#include "socket/dropping_listener.h"
#include "socket/host_table.h"
#include "socket/scripted_peer.h"
#include "wire/network_test_support.h"
#include "wire/wire_context.h"

namespace Core_SOAPClient {
namespace {

using namespace std::chrono_literals;
using Core_Socket::testing::PeerConnection;
using Core_Socket::testing::ScriptedPeer;
using Core_Wire::testing::network_stack;

constexpr std::uint32_t kLoopbackValue = 0x0100007Fu;  // 127.0.0.1, network order

std::uint64_t sequence_of(const std::string& request) {
    std::uint64_t value = 0;
    for (int i = 24; i < 32; ++i) {
        value = (value << 8) | static_cast<unsigned char>(request[i]);
    }
    return value;
}

std::string be(std::uint64_t value, int bytes) {
    std::string out;
    for (int i = bytes - 1; i >= 0; --i)
        out.push_back(static_cast<char>((value >> (8 * i)) & 0xFF));
    return out;
}

// A reply of the envelope: header_length, version bytes, body_length,
// sequence, padding up to header_length, body.
std::string make_reply(std::uint64_t sequence, const std::string& body,
                       std::uint16_t header_length = 20,
                       std::string version = std::string("\0\1", 2)) {
    std::string out = be(header_length, 2) + version + be(body.size(), 4) + be(sequence, 8);
    if (out.size() < header_length) out.append(header_length - out.size(), '\0');
    return out + body;
}

class recording_handler : public InterfaceSOAPClientSimpleHandler {
public:
    void on_reply(const Core_Common::soap_client_received_t& received) override {
        replies.push_back(received);
        if (m_inside_send) ++callbacks_inside_send;
    }
    void on_error(const Core_Common::service_error_t& error,
                  const boost::system::error_code& ec) override {
        errors.push_back({error, ec});
        if (m_inside_send) ++callbacks_inside_send;
    }
    void send_body(const std::string& body) {
        m_inside_send = true;
        send(body);
        m_inside_send = false;
    }
    std::size_t outcomes() const { return replies.size() + errors.size(); }

    std::vector<Core_Common::soap_client_received_t> replies;
    std::vector<std::pair<Core_Common::service_error_t, boost::system::error_code>> errors;
    int callbacks_inside_send = 0;

private:
    bool m_inside_send = false;
};

std::string server_of(const ScriptedPeer& peer) {
    return "127.0.0.1:" + std::to_string(peer.port());
}

TEST(SessionClient, RequestReachesTheServerAndTheReplyComesBackOnThePump) {
    network_stack stack;
    std::vector<std::string> requests;
    std::mutex requests_lock;
    ScriptedPeer peer([&](PeerConnection& c) {
        std::string request = c.read_request();
        {
            std::lock_guard<std::mutex> guard(requests_lock);
            requests.push_back(request);
        }
        c.write(make_reply(sequence_of(request), "reply:" + request.substr(38)));
        c.wait_closed(5s);
    });
    recording_handler handler;
    handler.set_server(server_of(peer), 8080, 0, 0);
    const std::string body(100, 'b');
    for (int round = 1; round <= 3; ++round) {
        handler.send_body(body);
        EXPECT_EQ(handler.outcomes(), static_cast<std::size_t>(round - 1));
        ASSERT_TRUE(network_stack::pump_until(
            [&] { return handler.outcomes() == static_cast<std::size_t>(round); }));
    }
    ASSERT_EQ(handler.replies.size(), 3u);
    EXPECT_EQ(handler.callbacks_inside_send, 0);
    EXPECT_EQ(handler.replies[0].m_body, "reply:" + body);
    EXPECT_EQ(handler.replies[0].m_address, kLoopbackValue);
    ASSERT_TRUE(peer.wait_finished(3, 10s));
    std::lock_guard<std::mutex> guard(requests_lock);
    ASSERT_EQ(requests.size(), 3u);
    const std::string& first = requests[0];
    ASSERT_EQ(first.size(), 138u);
    EXPECT_EQ(first.substr(0, 16), "3A9C1E07B5D2F846");
    EXPECT_EQ(first.substr(16, 8), std::string("\x00\x16\x00\x01\x00\x00\x00\x64", 8));
    EXPECT_EQ(first.substr(32, 6), std::string(6, '\0'));
    EXPECT_EQ(first.substr(38), body);
    EXPECT_EQ(sequence_of(requests[0]), 1u);
    EXPECT_EQ(sequence_of(requests[1]), 2u);
    EXPECT_EQ(sequence_of(requests[2]), 3u);
    EXPECT_EQ(handler.sequence_counter(), 3u);
}

TEST(SessionClient, ReplyInOneBytePiecesIsDeliveredOnceWhenComplete) {
    network_stack stack;
    ScriptedPeer peer([&](PeerConnection& c) {
        std::string request = c.read_request();
        const std::string reply = make_reply(sequence_of(request), "split body", 24);
        for (char byte : reply) {
            c.write(std::string(1, byte));
            std::this_thread::sleep_for(1ms);
        }
        c.wait_closed(5s);
    });
    recording_handler handler;
    handler.set_server(server_of(peer), 8080, 0, 0);
    handler.send_body("x");
    ASSERT_TRUE(network_stack::pump_until([&] { return handler.outcomes() == 1; }));
    network_stack::pump_for(50ms);
    ASSERT_EQ(handler.replies.size(), 1u);
    EXPECT_EQ(handler.replies[0].m_body, "split body");
    EXPECT_TRUE(peer.wait_finished(1, 10s));  // we closed after the reply
}

TEST(SessionClient, ReplyFollowedByTheServersCloseIsDeliveredBeforeTheClose) {
    network_stack stack;
    ScriptedPeer peer([&](PeerConnection& c) {
        std::string request = c.read_request();
        c.write(make_reply(sequence_of(request), "last words"));
        c.close();
    });
    recording_handler handler;
    handler.set_server(server_of(peer), 8080, 0, 0);
    handler.send_body("x");
    ASSERT_TRUE(network_stack::pump_until([&] { return handler.outcomes() == 1; }));
    network_stack::pump_for(50ms);
    ASSERT_EQ(handler.replies.size(), 1u);
    EXPECT_TRUE(handler.errors.empty());
    EXPECT_EQ(handler.replies[0].m_body, "last words");
}

struct bad_reply_case {
    const char* name;
    std::function<std::string(std::uint64_t)> reply;
    std::u16string message;
};

TEST(SessionClient, MalformedRepliesEndTheSessionWithCode4AndCloseTheConnection) {
    const bad_reply_case cases[] = {
        {"wrong sequence", [](std::uint64_t s) { return make_reply(s + 7, "x"); },
         u"Invalid SOAP Session."},
        {"header length 5",
         [](std::uint64_t s) { return be(5, 2) + std::string("\0\1", 2) + be(0, 4) + be(s, 8); },
         u"Invalid SOAP Protocol Header."},
        {"version 01 00",
         [](std::uint64_t s) { return make_reply(s, "", 22, std::string("\1\0", 2)); },
         u"Invalid SOAP Protocol Version."},
    };
    network_stack stack;
    for (const bad_reply_case& c : cases) {
        SCOPED_TRACE(c.name);
        std::atomic<bool> closed_by_client{false};
        ScriptedPeer peer([&](PeerConnection& conn) {
            std::string request = conn.read_request();
            conn.write(c.reply(sequence_of(request)));
            closed_by_client.store(conn.wait_closed(5s));
        });
        recording_handler handler;
        handler.set_server(server_of(peer), 8080, 0, 0);
        handler.send_body("x");
        ASSERT_TRUE(network_stack::pump_until([&] { return handler.outcomes() == 1; }));
        ASSERT_EQ(handler.errors.size(), 1u);
        EXPECT_EQ(handler.errors[0].first.code, 4);
        EXPECT_EQ(handler.errors[0].first.message, c.message);
        EXPECT_FALSE(handler.errors[0].second);
        ASSERT_TRUE(peer.wait_finished(1, 10s));
        EXPECT_TRUE(closed_by_client.load());
    }
}

TEST(SessionClient, RefusedConnectGivesCode3WithTheSystemMessage) {
    network_stack stack;
    recording_handler handler;
    handler.set_server("127.0.0.1:" + std::to_string(Core_Socket::testing::refused_port()), 8080, 0,
                       0);
    handler.send_body("x");
    ASSERT_TRUE(network_stack::pump_until([&] { return handler.outcomes() == 1; }));
    ASSERT_EQ(handler.errors.size(), 1u);
    EXPECT_EQ(handler.errors[0].first.code, 3);
    EXPECT_EQ(handler.errors[0].first.message, u"Connection refused");
    EXPECT_EQ(handler.errors[0].second.value(), Core_Platform::SOCKET_ERROR_CONNECTION_REFUSED);
}

TEST(SessionClient, ANameWhoseFirstAddressRefusesConnectsToTheSecond) {
    network_stack stack;
    ScriptedPeer peer([&](PeerConnection& c) {
        std::string request = c.read_request();
        c.write(make_reply(sequence_of(request), "second address"));
        c.wait_closed(5s);
    });
    Core_Socket::set_host_addresses("zorvane-server.test", {"::1", "127.0.0.1"});
    recording_handler handler;
    handler.set_server("zorvane-server.test:" + std::to_string(peer.port()), 8080, 0, 0);
    handler.send_body("x");
    ASSERT_TRUE(network_stack::pump_until([&] { return handler.outcomes() == 1; }));
    Core_Socket::clear_host_table();
    ASSERT_EQ(handler.replies.size(), 1u);
    EXPECT_EQ(handler.replies[0].m_body, "second address");
}

TEST(SessionClient, ServerClosingBeforeAWholeReplyGivesUnexpectedDisconnectWithEndOfFile) {
    network_stack stack;
    ScriptedPeer peer([&](PeerConnection& c) {
        std::string request = c.read_request();
        c.write(make_reply(sequence_of(request), "truncated body").substr(0, 25));
        c.close();
    });
    recording_handler handler;
    handler.set_server(server_of(peer), 8080, 0, 0);
    handler.send_body("x");
    ASSERT_TRUE(network_stack::pump_until([&] { return handler.outcomes() == 1; }));
    ASSERT_EQ(handler.errors.size(), 1u);
    EXPECT_EQ(handler.errors[0].first.code, 4);
    EXPECT_EQ(handler.errors[0].first.message, u"Unexpected Disconnect");
    EXPECT_EQ(handler.errors[0].second.value(), 2);
    EXPECT_STREQ(handler.errors[0].second.category().name(), "asio.misc");
}

TEST(SessionClient, SilentServerGivesUnexpectedDisconnectWith10060AfterTenSeconds) {
    network_stack stack(10);
    ScriptedPeer peer([&](PeerConnection& c) {
        c.read_request();
        c.wait_closed(20s);
    });
    recording_handler handler;
    handler.set_server(server_of(peer), 8080, 0, 0);
    const auto started = std::chrono::steady_clock::now();
    handler.send_body("x");
    ASSERT_TRUE(network_stack::pump_until([&] { return handler.outcomes() == 1; }, 20s));
    EXPECT_GE(std::chrono::steady_clock::now() - started, 10s);
    ASSERT_EQ(handler.errors.size(), 1u);
    EXPECT_EQ(handler.errors[0].first.code, 4);
    EXPECT_EQ(handler.errors[0].first.message, u"Unexpected Disconnect");
    EXPECT_EQ(handler.errors[0].second.value(), Core_Platform::SOCKET_ERROR_TIMED_OUT);
}

// A reply far above the link's 10 MiB buffering bound (what a large account
// gets back) is read whole and delivered intact.
TEST(SessionClient, AReplyLargerThanTheLinksBufferingBoundArrivesWhole) {
    network_stack stack(10);
    std::string body(24 * 1024 * 1024, '\0');
    std::uint32_t x = 2463534242u;  // xorshift32, seed printed on failure
    for (char& c : body) {
        x ^= x << 13;
        x ^= x >> 17;
        x ^= x << 5;
        c = static_cast<char>(x);
    }
    ScriptedPeer peer([&](PeerConnection& c) {
        const std::string request = c.read_request();
        EXPECT_TRUE(c.write(make_reply(sequence_of(request), body)));
        c.wait_closed(20s);
    });
    recording_handler handler;
    handler.set_server(server_of(peer), 8080, 0, 0);
    handler.send_body(std::string(3 * 1024 * 1024, 'r'));
    ASSERT_TRUE(network_stack::pump_until([&] { return handler.outcomes() == 1; }, 60s));
    ASSERT_EQ(handler.replies.size(), 1u) << handler.errors[0].second.message();
    EXPECT_TRUE(handler.replies[0].m_body == body) << "seed 2463534242";
    EXPECT_TRUE(peer.wait_finished(1, 10s));
}

// Whole-reply deadline: a server that trickles its reply often enough to keep
// the inactivity time-out (2 s here) away still ends at the deadline (4 s).
TEST(SessionClient, ATricklingServerEndsAtTheReplyDeadline) {
    network_stack stack(2);
    const std::int32_t saved = session_reply_timeout_seconds.load();
    session_reply_timeout_seconds.store(4);
    ScriptedPeer peer([&](PeerConnection& c) {
        const std::string reply = make_reply(sequence_of(c.read_request()), std::string(100, 't'));
        for (char byte : reply) {
            if (!c.write(std::string(1, byte))) break;
            if (c.wait_closed(1s)) break;
        }
    });
    recording_handler handler;
    handler.set_server(server_of(peer), 8080, 0, 0);
    const auto started = std::chrono::steady_clock::now();
    handler.send_body("x");
    session_reply_timeout_seconds.store(saved);
    ASSERT_TRUE(network_stack::pump_until([&] { return handler.outcomes() == 1; }, 30s));
    const auto took = std::chrono::steady_clock::now() - started;
    EXPECT_GE(took, 3900ms);
    EXPECT_LT(took, 15s);
    ASSERT_EQ(handler.errors.size(), 1u);
    EXPECT_EQ(handler.errors[0].first.code, 4);
    EXPECT_EQ(handler.errors[0].first.message, u"Reply Deadline Passed.");
    EXPECT_EQ(handler.errors[0].second.value(), Core_Platform::SOCKET_ERROR_TIMED_OUT);
    EXPECT_TRUE(peer.wait_finished(1, 10s));  // the connection was closed
    network_stack::pump_for(100ms);
    EXPECT_EQ(handler.outcomes(), 1u);
}

// The deadline covers connecting: a server that drops connection attempts
// fails the session as a connect failure (code 3, 10060) at the deadline,
// well before the socket layer's own connect deadline.
TEST(SessionClient, ADroppedConnectEndsAtTheReplyDeadlineAsAConnectFailure) {
    Core_Socket::testing::DroppingListener listener;
    ASSERT_TRUE(listener.full());
    network_stack stack(10);
    const std::int32_t saved = session_reply_timeout_seconds.load();
    session_reply_timeout_seconds.store(2);
    recording_handler handler;
    handler.set_server("127.0.0.1:" + std::to_string(listener.port()), 8080, 0, 0);
    const auto started = std::chrono::steady_clock::now();
    handler.send_body("x");
    session_reply_timeout_seconds.store(saved);
    ASSERT_TRUE(network_stack::pump_until([&] { return handler.outcomes() == 1; }, 30s));
    EXPECT_GE(std::chrono::steady_clock::now() - started, 1900ms);
    ASSERT_EQ(handler.errors.size(), 1u);
    EXPECT_EQ(handler.errors[0].first.code, 3);
    EXPECT_EQ(handler.errors[0].second.value(), Core_Platform::SOCKET_ERROR_TIMED_OUT);
}

TEST(SessionClient, ANewSendAbandonsTheFirstSessionSilently) {
    network_stack stack;
    std::atomic<bool> first_closed{false};
    ScriptedPeer peer([&](PeerConnection& c) {
        std::string request = c.read_request();
        if (sequence_of(request) == 1) {
            first_closed.store(c.wait_closed(5s));
            return;
        }
        c.write(make_reply(sequence_of(request), "second"));
        c.wait_closed(5s);
    });
    recording_handler handler;
    handler.set_server(server_of(peer), 8080, 0, 0);
    handler.send_body("first");
    ASSERT_TRUE(network_stack::pump_until([&] { return peer.accepted() == 1; }));
    network_stack::pump_for(20ms);  // the first request is written
    handler.send_body("second");
    ASSERT_TRUE(network_stack::pump_until([&] { return handler.outcomes() == 1; }));
    network_stack::pump_for(50ms);
    ASSERT_EQ(handler.replies.size(), 1u);
    EXPECT_EQ(handler.replies[0].m_body, "second");
    EXPECT_TRUE(handler.errors.empty());
    ASSERT_TRUE(peer.wait_finished(2, 10s));
    EXPECT_TRUE(first_closed.load());
}

TEST(SessionClient, CancelAbandonsTheSessionAndNothingFollows) {
    network_stack stack;
    std::atomic<bool> closed{false};
    ScriptedPeer peer([&](PeerConnection& c) {
        c.read_request();
        closed.store(c.wait_closed(5s));
    });
    recording_handler handler;
    handler.cancel();  // nothing current: nothing happens
    handler.set_server(server_of(peer), 8080, 0, 0);
    handler.send_body("x");
    ASSERT_TRUE(network_stack::pump_until([&] { return peer.accepted() == 1; }));
    EXPECT_TRUE(handler.busy());
    handler.cancel();
    EXPECT_FALSE(handler.busy());
    ASSERT_TRUE(peer.wait_finished(1, 10s));
    EXPECT_TRUE(closed.load());
    network_stack::pump_for(50ms);
    EXPECT_EQ(handler.outcomes(), 0u);
    EXPECT_EQ(Core_Wire::WireContext::current()->counters().num_connected, 0u);
}

TEST(SessionClient, HandlerDestroyedMidSessionClosesTheConnection) {
    network_stack stack;
    std::atomic<bool> closed{false};
    ScriptedPeer peer([&](PeerConnection& c) {
        c.read_request();
        closed.store(c.wait_closed(5s));
    });
    {
        recording_handler handler;
        handler.set_server(server_of(peer), 8080, 0, 0);
        handler.send_body("x");
        ASSERT_TRUE(network_stack::pump_until([&] { return peer.accepted() == 1; }));
    }
    ASSERT_TRUE(peer.wait_finished(1, 10s));
    EXPECT_TRUE(closed.load());
    network_stack::pump_for(20ms);
}

TEST(SessionClient, SendWithoutAServerReportsCode2FromInsideSend) {
    network_stack stack;
    recording_handler handler;
    handler.send_body("x");
    ASSERT_EQ(handler.errors.size(), 1u);
    EXPECT_EQ(handler.callbacks_inside_send, 1);
    EXPECT_EQ(handler.errors[0].first.code, 2);
    EXPECT_EQ(handler.errors[0].first.message, u"Not Available SOAP Connection.");
    EXPECT_FALSE(handler.errors[0].second);
    EXPECT_EQ(handler.sequence_counter(), 0u);
}

TEST(SessionClient, MailslotOutsideTheListThrowsAndStartsNothing) {
    network_stack stack;
    recording_handler handler;
    handler.set_server("127.0.0.1:1", 8080, 0, 0);
    EXPECT_THROW(handler.send("x", 0, 1), std::u16string);
    EXPECT_FALSE(handler.busy());
    EXPECT_EQ(handler.sequence_counter(), 0u);
}

TEST(ServerAddress, HostAndPortFollowTheAddressRule) {
    struct address_case {
        std::string text;
        bool valid;
        std::string host;
        std::uint16_t port;
    };
    const address_case cases[] = {
        {"sync.example:9000", true, "sync.example", 9000},
        {"sync.example", true, "sync.example", 8080},
        {"sync.example:65535", true, "sync.example", 65535},
        {"[::1]:8081", true, "::1", 8081},
        {"[::1]", true, "::1", 8080},
        {"[2001:db8::7]:443", true, "2001:db8::7", 443},
        {"127.0.0.1:1", true, "127.0.0.1", 1},
        // Malformed: refused rather than read as something else.
        {"sync.example:80.5", false, "", 8080},
        {"sync.example:abc", false, "", 8080},
        {"sync.example:port9001x", false, "", 8080},
        {"sync.example::9002", false, "", 8080},
        {"sync.example:70000", false, "", 8080},
        {"sync.example:0", false, "", 8080},
        {"sync.example:", false, "", 8080},
        {"sync.example:+80", false, "", 8080},
        {"sync.example: 80", false, "", 8080},
        {"::1", false, "", 8080},
        {"[::1", false, "", 8080},
        {"[::1]8080", false, "", 8080},
        {"[]:8080", false, "", 8080},
        {"", false, "", 8080},
        {":9003", false, "", 8080},
    };
    for (const address_case& c : cases) {
        SCOPED_TRACE(c.text);
        std::string host = "left over";
        std::uint16_t port = 0;
        EXPECT_EQ(parse_server_address(c.text, 8080, host, port), c.valid);
        EXPECT_EQ(host, c.host);
        EXPECT_EQ(port, c.port);
        // The same after "tls://", which only a caller that asks about TLS
        // is given; one that does not is refused rather than sent clear
        // text.
        bool tls = false;
        EXPECT_EQ(parse_server_address("tls://" + c.text, 8080, host, port, &tls), c.valid);
        EXPECT_EQ(host, c.host);
        EXPECT_EQ(port, c.port);
        EXPECT_EQ(tls, c.valid);
        EXPECT_FALSE(parse_server_address("tls://" + c.text, 8080, host, port));
        EXPECT_TRUE(parse_server_address(c.text, 8080, host, port, &tls) == c.valid && !tls);
    }
    {
        std::string host;
        std::uint16_t port = 0;
        bool tls = true;
        EXPECT_FALSE(parse_server_address("TLS://sync.example", 8080, host, port, &tls));
        EXPECT_FALSE(parse_server_address("tls:/sync.example", 8080, host, port, &tls));
        EXPECT_FALSE(tls);
    }
    recording_handler handler;
    handler.set_server("[::1]:9000", 8080, 0, 0);
    ASSERT_EQ(handler.servlets().size(), 1u);
    EXPECT_EQ(handler.servlets()[0].m_host, "::1");
    EXPECT_EQ(handler.servlets()[0].m_port, 9000);
    EXPECT_FALSE(handler.servlets()[0].m_tls);
    handler.set_server("tls://[::1]:9000", 8080, 0, 0);
    ASSERT_EQ(handler.servlets().size(), 1u);
    EXPECT_EQ(handler.servlets()[0].m_host, "::1");
    EXPECT_TRUE(handler.servlets()[0].m_tls);
    handler.set_server("sync.example:80.5", 8080, 0, 0);
    EXPECT_TRUE(handler.servlets().empty()) << "no server rather than port 80";
}

// A request to a bracketed IPv6 literal reaches a server on the IPv6
// loopback; with a server address that was refused nothing is sent and the
// request fails at once.
TEST(ServerAddress, Ipv6LiteralsAreReachedAndRefusedAddressesFail) {
    network_stack stack;
    std::atomic<bool> reached{false};
    std::unique_ptr<ScriptedPeer> peer;
    try {
        peer = std::make_unique<ScriptedPeer>(
            [&](PeerConnection& c) {
                reached.store(!c.read_request().empty());
                c.close();
            },
            "::1");
    } catch (const std::exception& e) {
        GTEST_SKIP() << "no IPv6 loopback here: " << e.what();
    }
    recording_handler handler;
    handler.set_server("[::1]:" + std::to_string(peer->port()), 8080, 0, 0);
    handler.send_body("hello");
    ASSERT_TRUE(network_stack::pump_until([&] { return handler.outcomes() == 1; }));
    EXPECT_TRUE(reached.load());

    recording_handler refused;
    refused.set_server("127.0.0.1:80.5", 8080, 0, 0);
    refused.send_body("hello");
    EXPECT_EQ(refused.sequence_counter(), 0u);
    ASSERT_TRUE(network_stack::pump_until([&] { return refused.outcomes() == 1; }));
    EXPECT_EQ(refused.errors.size(), 1u);
}

}  // namespace
}  // namespace Core_SOAPClient

namespace Core_SOAPClient {
namespace {

// Shutdown destroys started modules in registry order without stop, cleanup
// or uninitialize, and the sync client (a handler) goes last. Nothing may
// outlive what it uses: no service thread after the socket module, no link
// after the wire module, no callback into a destroyed handler.
TEST(SessionClientShutdown, DestroyingStartedModulesWithASessionInFlightIsSafe) {
    std::atomic<bool> closed{false};
    ScriptedPeer peer([&](PeerConnection& c) {
        c.read_request();
        closed.store(c.wait_closed(5s));
    });
    auto handler = std::make_unique<recording_handler>();
    {
        network_stack stack;
        handler->set_server(server_of(peer), 8080, 0, 0);
        handler->send_body("in flight");
        ASSERT_TRUE(network_stack::pump_until([&] { return peer.accepted() == 1; }));
        network_stack::pump_for(20ms);
        // What the framework's shutdown does to started modules.
        Core_Socket::InterfaceSocket::reset_instance();
        Core_Wire::InterfaceWire::reset_instance();
        Core_Common::InterfaceMessage::reset_instance();
        Core_Common::InterfaceTimer::reset_instance();
        Core_SOAPClient::InterfaceSOAPClient::reset_instance();
        handler.reset();
    }
    ASSERT_TRUE(peer.wait_finished(1, 10s));
    EXPECT_TRUE(closed.load());
}

}  // namespace
}  // namespace Core_SOAPClient
