// The sync client over the real network stack: the framework started as the
// host starts it, a loopback server played by a scripted peer that reads the
// session envelope and answers with replies built by the test's own encoder.
#include <gtest/gtest.h>

#include <chrono>
#include <mutex>
#include <thread>

#include "bookmarks/tree_xml.h"
#include "socket/scripted_peer_testing.h"
#include "startup/framework.h"
#include "sync_client/client_settings.h"
#include "sync_client/completion_callbacks.h"
#include "sync_client/sync_client_testing.h"
#include "sync_client/zorvane_client.h"

namespace Core_ZorvaneClient {
namespace {

using namespace std::chrono_literals;
using namespace Core_ZorvaneClient::testing;
using boost::system::error_code;
using Core_Socket::testing::PeerConnection;
using Core_Socket::testing::ScriptedPeer;

std::string big_endian(std::uint64_t value, int bytes) {
    std::string out;
    for (int i = bytes - 1; i >= 0; --i)
        out.push_back(static_cast<char>((value >> (8 * i)) & 0xFF));
    return out;
}

// A reply envelope: header length 20, version 0.1, body length, the request's
// sequence number, padding, body.
std::string envelope(std::uint64_t sequence, const std::string& body) {
    std::string out = big_endian(20, 2) + std::string("\0\1", 2) + big_endian(body.size(), 4) +
                      big_endian(sequence, 8);
    out.append(20 - out.size(), '\0');
    return out + body;
}

bool pump_until(const std::function<bool()>& done) {
    const auto deadline = std::chrono::steady_clock::now() + 15s;
    while (!done()) {
        if (std::chrono::steady_clock::now() > deadline) return false;
        Core_Common::process_pending();
        std::this_thread::sleep_for(1ms);
    }
    return true;
}

TEST(SyncClientOverTheNetwork, UpdateAndCommitReachALoopbackServer) {
    temp_directory dir("network");
    std::mutex lock;
    std::vector<std::u16string> actions;
    std::vector<std::string> baselines;
    ScriptedPeer peer([&](PeerConnection& c) {
        const std::string raw = c.read_request();
        ASSERT_GE(raw.size(), 32u);
        const std::size_t header_length =
            (static_cast<unsigned char>(raw[16]) << 8) | static_cast<unsigned char>(raw[17]);
        std::uint64_t sequence = 0;
        for (int i = 24; i < 32; ++i)
            sequence = (sequence << 8) | static_cast<unsigned char>(raw[i]);
        const request_t request = open_request(raw.substr(16 + header_length));
        std::string reply;
        if (request.action_name() == u"Update") {
            reply =
                reply_body(response("result=\"OK\"",
                                    "<Update><BookmarkVersion>3</BookmarkVersion>"
                                    "<BookmarkDate>2026-12-09 05:00:00</BookmarkDate></Update>"),
                           tree_document("AB"));
        } else {
            reply =
                reply_body(response("result=\"OK\"",
                                    "<Commit><BookmarkVersionBaseline>4</BookmarkVersionBaseline>"
                                    "</Commit>"),
                           request.data);
        }
        {
            std::lock_guard<std::mutex> guard(lock);
            actions.push_back(request.action_name());
            baselines.push_back(request.field(u"BookmarkVersionBaseline"));
        }
        c.write(envelope(sequence, reply));
        c.wait_closed(5s);
    });

    std::vector<error_code> updates, syncs;
    set_update_done([&](const error_code& e) { updates.push_back(e); });
    set_sync_done(
        [&](const error_code& e, const Core_ZorvaneMerge::zorvane_node_t&) { syncs.push_back(e); });
    set_data_directory(dir.wide());
    set_server_host("127.0.0.1:" + std::to_string(peer.port()));
    Core_Common::start_framework();
    Core_Common::start_modules();
    ZorvaneClient& client = *ZorvaneClient::instance();

    client.set_user(u"alice", u"pa55", 0);
    client.start_update(false);
    ASSERT_TRUE(pump_until([&] { return !updates.empty(); }));
    EXPECT_EQ(updates[0], error_code());
    EXPECT_EQ(client.last_sync().version, 3);
    EXPECT_EQ(client.last_sync().tree.children.size(), 2u);

    client.start_sync(tree_document("ABC"));
    ASSERT_TRUE(pump_until([&] { return !syncs.empty(); }));
    EXPECT_EQ(syncs[0], error_code());
    EXPECT_EQ(client.last_sync().version, 4);
    EXPECT_EQ(client.last_sync().tree.children.size(), 3u);
    EXPECT_EQ(updates.size(), 1u);
    EXPECT_EQ(syncs.size(), 1u);

    Core_Common::stop_framework();
    ZorvaneClient::reset_instance();
    set_update_done(nullptr);
    set_sync_done(nullptr);
    set_server_host("");
    set_data_directory(u"");
    ASSERT_TRUE(peer.wait_finished(2, 10s));
    std::lock_guard<std::mutex> guard(lock);
    EXPECT_EQ(actions, (std::vector<std::u16string>{u"Update", u"Commit"}));
    EXPECT_EQ(baselines, (std::vector<std::string>{"0", "3"}));
}

}  // namespace
}  // namespace Core_ZorvaneClient
