#include "wire/wire_link.h"

#include <gtest/gtest.h>

#include <atomic>
#include <random>
#include <sstream>
#include <thread>

#include "platform/socket_errors.h"
#include "socket/scripted_peer_testing.h"
#include "startup/network_stack_testing.h"
#include "wire/wire_callback.h"
#include "wire/wire_context.h"
#include "wire/wire_link_pool.h"

namespace Core_Wire {
namespace {

using namespace std::chrono_literals;
using Core_Socket::testing::PeerConnection;
using Core_Socket::testing::ScriptedPeer;
using testing::network_stack;

// A protocol client that records what the link tells it; its consuming rule
// is set by each test. The owner is the client itself.
class recording_client final : public InterfaceWireCallback {
public:
    std::function<std::int32_t(const char*, std::size_t)> consume = [](const char*, std::size_t) {
        return 0;
    };
    std::vector<std::string> events;
    std::vector<std::pair<std::size_t, std::size_t>> offers;  // size, new bytes
    std::string consumed_bytes;
    boost::system::error_code close_error, failed_error;
    WireLinkLayer* link = nullptr;

    bool recognize(const char*, std::size_t, std::uint32_t, std::uint16_t, std::uint32_t,
                   std::uint16_t) override {
        return false;
    }
    void attach(WireLinkLayer*, void*&) override {}
    void on_closed(WireLinkLayer*, void*& owner, const boost::system::error_code& ec) override {
        events.push_back("closed");
        close_error = ec;
        owner = nullptr;
        link = nullptr;
    }
    void on_connected(WireLinkLayer*, void*) override { events.push_back("connected"); }
    void on_connect_failed(WireLinkLayer*, void*, const boost::system::error_code& ec) override {
        events.push_back("connect_failed");
        failed_error = ec;
    }
    void on_received(WireLinkLayer*, void*, const char* data, std::size_t size,
                     std::size_t new_bytes, std::int32_t& consumed) override {
        offers.emplace_back(size, new_bytes);
        consumed = consume(data, size);
        if (consumed > 0) consumed_bytes.append(data, static_cast<std::size_t>(consumed));
        if (consumed < 0) consumed_bytes.append(data, size);
        events.push_back("received");
    }
    void on_sent(WireLinkLayer*, void*) override { events.push_back("sent"); }

    bool connect(std::uint16_t port) {
        return connect_link(this, link, "127.0.0.1", port, 0, false);
    }
    bool has(const std::string& event) const {
        return std::find(events.begin(), events.end(), event) != events.end();
    }
};

class WireLink : public ::testing::Test {
protected:
    void SetUp() override {
        InterfaceWire::set_protocol_client(InterfaceWire::soap_client_index, &client);
    }
    wire_counters_t counters() { return WireContext::current()->counters(); }

    network_stack stack{10};
    recording_client client;
};

TEST_F(WireLink, ConnectLinkStartsAtOnceAndTheCountersFollowTheLink) {
    ScriptedPeer peer([](PeerConnection& c) { c.wait_closed(5s); });
    EXPECT_TRUE(client.connect(peer.port()));
    ASSERT_NE(client.link, nullptr);
    EXPECT_EQ(counters().num_connecting_pending, 0u);
    EXPECT_EQ(counters().num_connecting, 1u);
    ASSERT_TRUE(network_stack::pump_until([&] { return client.has("connected"); }));
    EXPECT_EQ(counters().num_connecting, 0u);
    EXPECT_EQ(counters().num_connected, 1u);
    link_release(&client, client.link);
    EXPECT_EQ(client.link, nullptr);
    ASSERT_TRUE(network_stack::pump_until([&] { return counters().num_connected == 0; }));
    EXPECT_FALSE(client.has("closed"));  // a released link tells its former owner nothing
    EXPECT_TRUE(peer.wait_finished(1, 10s));
}

TEST_F(WireLink, ConnectFailureGivesConnectFailedThenClosedWithTheSameError) {
    client.connect(Core_Socket::testing::refused_port());
    ASSERT_TRUE(network_stack::pump_until([&] { return client.has("closed"); }));
    ASSERT_EQ(client.events, (std::vector<std::string>{"connect_failed", "closed"}));
    EXPECT_EQ(client.failed_error.value(), Core_Platform::SOCKET_ERROR_CONNECTION_REFUSED);
    EXPECT_EQ(client.close_error, client.failed_error);
    EXPECT_EQ(counters().num_connecting, 0u);
    EXPECT_EQ(live_link_count(), 0u);
}

TEST_F(WireLink, BytesInPiecesAreOfferedWholeUntilTheClientTakesThem) {
    ScriptedPeer peer([](PeerConnection& c) {
        for (char ch : std::string("abcdefghij")) {
            c.write(std::string(1, ch));
            std::this_thread::sleep_for(2ms);
        }
        c.wait_closed(5s);
    });
    client.consume = [](const char*, std::size_t size) { return size < 10 ? 0 : 10; };
    client.connect(peer.port());
    ASSERT_TRUE(network_stack::pump_until([&] { return client.consumed_bytes.size() == 10; }));
    EXPECT_EQ(client.consumed_bytes, "abcdefghij");
    std::size_t previous = 0;
    for (auto [size, fresh] : client.offers) {
        EXPECT_GT(size, previous);          // always the whole unconsumed contents
        EXPECT_EQ(fresh, size - previous);  // of which only the tail is new
        previous = size;
    }
    link_release(&client, client.link);
}

TEST_F(WireLink, APartlyConsumedViewIsOfferedAgainAtOnceWithNothingNew) {
    ScriptedPeer peer([](PeerConnection& c) {
        c.write(std::string(25, 'z'));
        c.wait_closed(5s);
    });
    int calls = 0;
    client.consume = [&](const char*, std::size_t size) -> std::int32_t {
        ++calls;
        if (calls == 1) return size == 25 ? 10 : 0;
        return static_cast<std::int32_t>(size);
    };
    client.connect(peer.port());
    ASSERT_TRUE(network_stack::pump_until([&] { return client.consumed_bytes.size() == 25; }));
    ASSERT_EQ(client.offers.size(), 2u);
    EXPECT_EQ(client.offers[0], (std::pair<std::size_t, std::size_t>{25, 25}));
    EXPECT_EQ(client.offers[1], (std::pair<std::size_t, std::size_t>{15, 0}));
    link_release(&client, client.link);
}

TEST_F(WireLink, MinusOneClosesAtOnceAndMinusTwoAfterTheSendBufferEmpties) {
    for (std::int32_t result : {-1, -2}) {
        SCOPED_TRACE(result);
        std::atomic<bool> got_reply{false};
        std::atomic<bool> closed{false};
        ScriptedPeer peer([&](PeerConnection& c) {
            c.write("trigger");
            got_reply.store(c.read_exact(5) == "after");
            closed.store(c.wait_closed(5s));
        });
        client.events.clear();
        client.consume = [&](const char*, std::size_t) {
            // Written before the result: -2 still sends it, -1 need not.
            link_send(client.link, &client, "after", 5);
            return result;
        };
        client.connect(peer.port());
        ASSERT_TRUE(network_stack::pump_until([&] { return client.has("closed"); }));
        EXPECT_FALSE(client.close_error);
        // The close after the flush is handled on the pump, so keep pumping.
        ASSERT_TRUE(network_stack::pump_until([&] { return peer.finished() == 1; }));
        EXPECT_TRUE(closed.load());
        if (result == -2) {
            EXPECT_TRUE(got_reply.load());
        }
        ASSERT_TRUE(network_stack::pump_until([&] { return live_link_count() == 0; }));
    }
}

TEST_F(WireLink, DataQueuedWhenThePeerClosesReachesTheClientBeforeTheClose) {
    ScriptedPeer peer([](PeerConnection& c) {
        c.write("final words");
        c.close();
    });
    client.consume = [](const char*, std::size_t size) { return static_cast<std::int32_t>(size); };
    client.connect(peer.port());
    ASSERT_TRUE(peer.wait_finished(1, 10s));
    std::this_thread::sleep_for(100ms);  // both the bytes and the close are queued now
    ASSERT_TRUE(network_stack::pump_until([&] { return client.has("closed"); }));
    EXPECT_EQ(client.consumed_bytes, "final words");
    auto received = std::find(client.events.begin(), client.events.end(), "received");
    auto closed = std::find(client.events.begin(), client.events.end(), "closed");
    EXPECT_LT(received, closed);
    EXPECT_EQ(client.close_error.value(), 2);  // end of file
}

TEST_F(WireLink, ReceiveAllowanceStopsAboveTenMebibytesAndComesBack) {
    constexpr std::size_t kFlood = 11 * 1024 * 1024;
    ScriptedPeer peer([&](PeerConnection& c) {
        std::string chunk(64 * 1024, 'f');
        for (std::size_t sent = 0; sent < kFlood; sent += chunk.size()) {
            if (!c.write(chunk)) break;
        }
        c.wait_closed(10s);
    });
    auto allowance_now = [&] {
        void* conn = nullptr;
        {
            std::lock_guard<std::mutex> guard(client.link->m_lock);
            conn = client.link->m_connection;
        }
        std::uint32_t allowance = 1;
        InterfaceWire::get_recv_allowance(conn, client.link, allowance);
        return allowance;
    };
    std::vector<std::uint32_t> allowances_while_full;
    // A client that waits for more than 10 MiB before it takes anything.
    client.consume = [&](const char*, std::size_t size) -> std::int32_t {
        if (size <= WireLinkLayer::kReceiveBufferLimit) return 0;
        allowances_while_full.push_back(allowance_now());
        return static_cast<std::int32_t>(size);
    };
    client.connect(peer.port());
    ASSERT_TRUE(network_stack::pump_until([&] { return !allowances_while_full.empty(); }, 30s));
    EXPECT_EQ(allowances_while_full[0], 0u);
    ASSERT_NE(client.link, nullptr);
    EXPECT_EQ(allowance_now(), 0xFFFFFFFFu);
    // Reading resumed: the rest of the flood arrives.
    client.consume = [](const char*, std::size_t size) { return static_cast<std::int32_t>(size); };
    ASSERT_TRUE(
        network_stack::pump_until([&] { return client.consumed_bytes.size() == kFlood; }, 30s));
    link_release(&client, client.link);
}

TEST_F(WireLink, OwnerMismatchThrowsTheClosingFlag) {
    ScriptedPeer peer([](PeerConnection& c) { c.wait_closed(5s); });
    client.connect(peer.port());
    int stranger = 0;
    EXPECT_THROW(link_send(client.link, &stranger, "x", 1), bool);
    std::uint32_t address = 0;
    std::uint16_t port = 0;
    EXPECT_THROW(link_remote_endpoint(client.link, &stranger, address, port), bool);
    link_release(&client, client.link);
}

TEST_F(WireLink, AHeldBackLinkIsStartedByThePumpAndAReleasedPendingLinkLeavesTheQueue) {
    ScriptedPeer peer([](PeerConnection& c) { c.wait_closed(5s); });
    WireContext::current()->m_max_connecting = 1;
    recording_client second;
    recording_client third;
    EXPECT_TRUE(client.connect(peer.port()));
    EXPECT_FALSE(connect_link(&second, second.link, "127.0.0.1", peer.port(), 0, false));
    EXPECT_FALSE(connect_link(&third, third.link, "127.0.0.1", peer.port(), 1, false));
    EXPECT_EQ(counters().num_connecting, 3u);
    EXPECT_EQ(counters().num_connecting_pending, 2u);
    std::ostringstream report;
    WireLinkPool::current()->report(report);
    EXPECT_EQ(report.str(),
              "_____tcp_caller_list (pending, FIFO)\n"
              "    tcp_caller_undfined = 1\n"
              "    tcp_caller_incoming = 1\n"
              "_____tcp_caller_list (connecting)\n"
              "_____tcp_caller_list (connected)\n");
    link_release(&third, third.link);
    EXPECT_EQ(counters().num_connecting, 2u);
    EXPECT_EQ(counters().num_connecting_pending, 1u);
    // The first connect ends; the 200 ms pump starts the second.
    ASSERT_TRUE(network_stack::pump_until([&] { return counters().num_connecting_pending == 0; }));
    InterfaceWire::set_protocol_client(InterfaceWire::soap_client_index, &client);
    link_release(&client, client.link);
    link_release(&second, second.link);
    WireContext::current()->m_max_connecting = 0;
    ASSERT_TRUE(network_stack::pump_until([&] { return live_link_count() == 0; }));
}

TEST_F(WireLink, ModuleReportAfterStartUpShowsNoTraffic) {
    std::ostringstream report;
    InterfaceWire::instance()->report_status(report);
    const std::string text = report.str();
    EXPECT_EQ(text.find("Wirelayer objects = 0, capacity = 0, mem = 0KB\n"), 0u) << text;
    EXPECT_NE(text.find("wire_group_t objects = 0, capacity = 0, mem = 0KB\n"), std::string::npos);
    EXPECT_NE(text.find("UDP queue: send size = 0, recv size = 0\n"), std::string::npos);
    EXPECT_NE(text.find("Wire Send buffer capacity = "), std::string::npos);
    EXPECT_NE(text.find("num_connected = 0\nnum_connected_incoming = 0\nnum_connecting = 0\n"
                        "num_connecting_pending = 0\n"
                        "_____tcp_caller_list (pending, FIFO)\n"
                        "_____tcp_caller_list (connecting)\n"
                        "_____tcp_caller_list (connected)\n"),
              std::string::npos)
        << text;
}

TEST(WireCallerKinds, NamesByValue) {
    EXPECT_STREQ(tcp_caller_name(0), "tcp_caller_undfined");
    EXPECT_STREQ(tcp_caller_name(1), "tcp_caller_incoming");
    EXPECT_STREQ(tcp_caller_name(40), "tcp_caller_error");
    EXPECT_STREQ(tcp_caller_name(33), "tcp_caller_error");
    std::set<std::string> names;
    for (std::uint32_t kind = 0; kind <= 32; ++kind) {
        const std::string name = tcp_caller_name(kind);
        EXPECT_EQ(name.rfind("tcp_caller_", 0), 0u);
        names.insert(name);
    }
    EXPECT_EQ(names.size(), 33u);
}

TEST(WireAccounting, ReceivedBytesCountWithPacketOverhead) {
    EXPECT_EQ(bytes_with_overhead(3000), 3336u);
    EXPECT_EQ(bytes_with_overhead(0), 112u);
    EXPECT_EQ(bytes_with_overhead(1500), 1500u + 224u);
}

TEST(StreamBuffer, AppendsDuringAViewWaitForTheNextView) {
    const auto used_before = wire_buffer_stats().recv_used.load();
    {
        stream_buffer buffer(stream_buffer::RECEIVE);
        buffer.append("hello", 5);
        stream_buffer::view_t first = buffer.view();
        ASSERT_EQ(first.size, 5u);
        EXPECT_EQ(first.new_bytes, 5u);
        buffer.append(" world", 6);  // goes aside: `first` stays valid
        EXPECT_EQ(std::string(first.data, first.size), "hello");
        EXPECT_EQ(buffer.size(), 11u);
        buffer.consume(2);
        stream_buffer::view_t second = buffer.view();
        EXPECT_EQ(std::string(second.data, second.size), "llo world");
        EXPECT_EQ(second.new_bytes, 6u);
        EXPECT_EQ(wire_buffer_stats().recv_used.load() - used_before, 9);
        EXPECT_THROW(buffer.consume(10), std::runtime_error);
        buffer.consume(9);
        EXPECT_EQ(buffer.view().data, nullptr);
        buffer.consume(0);
    }
    EXPECT_EQ(wire_buffer_stats().recv_used.load(), used_before);
}

// Against a plain string, over random appends (some while a view is held),
// views, consumes and size hints: the views show exactly the unconsumed
// bytes in order, new_bytes counts what no earlier view showed, and the
// statistics end where they began.
TEST(StreamBuffer, RandomUseAgreesWithAPlainString) {
    const unsigned seed = 880301;
    std::mt19937 rng(seed);
    const auto used_before = wire_buffer_stats().recv_used.load();
    {
        stream_buffer buffer(stream_buffer::RECEIVE);
        std::string model;        // unconsumed bytes, in order
        std::size_t offered = 0;  // of them, shown by a view already
        for (int step = 0; step < 20000; ++step) {
            const unsigned what = rng() % 10;
            if (what < 4) {
                std::string bytes(rng() % 3000, '\0');
                for (char& c : bytes) c = static_cast<char>(rng());
                buffer.append(bytes.data(), bytes.size());
                model += bytes;
            } else if (what == 4) {
                buffer.expect(rng() % 2 ? 0 : rng() % 200000);
            } else {
                const stream_buffer::view_t view = buffer.view();
                ASSERT_EQ(std::string(view.data == nullptr ? "" : view.data, view.size),
                          model.substr(0, view.size))
                    << "seed " << seed << " step " << step;
                ASSERT_EQ(view.new_bytes, view.size - std::min(offered, view.size));
                offered = view.size;
                // Bytes that arrive under the view wait for the next one.
                if (rng() % 3 == 0) {
                    const std::string late(rng() % 100, 'l');
                    buffer.append(late.data(), late.size());
                    model += late;
                }
                const std::size_t n = view.size == 0 ? 0 : rng() % (view.size + 1);
                buffer.consume(n);
                model.erase(0, n);
                offered -= n;
            }
            ASSERT_EQ(buffer.size(), model.size()) << "seed " << seed << " step " << step;
        }
        const stream_buffer::view_t rest = buffer.view();
        buffer.consume(rest.size);
    }
    EXPECT_EQ(wire_buffer_stats().recv_used.load(), used_before);
}

}  // namespace
}  // namespace Core_Wire
