// The zorvane program against real servers at the edges of size and time: an
// account whose tree packs to more than 10 MiB syncing from two data
// directories (on both stores), and servers that drop connection attempts or
// trickle their reply, which must end within the deadline with a failure and
// nothing written.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "bookmarks/tree_compare.h"
#include "host_testing.h"
#include "socket/dropping_listener_testing.h"
#include "socket/scripted_peer_testing.h"

namespace Zorvane_Cli {
namespace {

using namespace std::chrono_literals;
using Core_Server::testing::backend_enum;
using Core_Server::testing::scratch_store_t;
using testing::bookmark_t;
using testing::bookmarks_by_url;
using testing::host_rig_t;
using testing::parse_lines;
using testing::process_result_t;
using testing::tree_of;
using testing::zorvane_node_t;

constexpr const char* kConnectFailed = "zorvane.kernel.status.connect_failed";

// `count` bookmarks whose addresses and titles are random letters (xorshift64
// from `seed`): about 1,600 bytes a bookmark that deflate shrinks by a
// quarter only.
std::vector<bookmark_t> random_bookmarks(int count, std::uint64_t seed) {
    static const char kLetters[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
    auto next = [&] {
        seed ^= seed << 13;
        seed ^= seed >> 7;
        seed ^= seed << 17;
        return seed;
    };
    auto letters = [&](int n) {
        std::string s;
        for (int i = 0; i < n; ++i) s += kLetters[next() % 62];
        return s;
    };
    std::vector<bookmark_t> out;
    for (int i = 0; i < count; ++i) {
        out.push_back({"r" + std::to_string(i), "Page " + letters(60),
                       "https://example.org/" + std::to_string(i) + "/" + letters(1500)});
    }
    return out;
}

// The bytes the server's log line for `user`'s `action` says it sent, for
// each such request in order.
std::vector<long long> logged_bytes_out(const std::string& log, const std::string& action) {
    std::vector<long long> out;
    std::istringstream in(log);
    std::string line;
    while (std::getline(in, line)) {
        if (line.find(" action=" + action + " ") == std::string::npos) continue;
        const auto at = line.find(" out=");
        if (at != std::string::npos) out.push_back(std::atoll(line.c_str() + at + 5));
    }
    return out;
}

class LargeAccount : public ::testing::TestWithParam<backend_enum> {
protected:
    void SetUp() override {
        ZV_REQUIRE_STORE(m_scratch);
        ASSERT_NO_FATAL_FAILURE(m_rig.start(m_scratch.url()));
    }

    std::map<std::string, std::string> run_ok(const std::string& data,
                                              const std::vector<std::string>& args) {
        const auto r = m_rig.zorvane(data, args);
        EXPECT_EQ(r.status, 0) << data << ": " << r.out << r.err;
        auto kv = parse_lines(r.out);
        EXPECT_EQ(kv["result"], "OK") << data << ": " << r.out << r.err;
        return kv;
    }

    scratch_store_t m_scratch{GetParam()};
    host_rig_t m_rig;
};

// A tree that packs to more than 10 MiB goes up from one data directory, comes
// down whole into a second (its first sync merges it with its own file), and
// a change made there reaches the first: replies of that size arrive whole.
TEST_P(LargeAccount, SyncsFromTwoDataDirectories) {
    const std::vector<bookmark_t> list = random_bookmarks(10000, 0x9E3779B97F4A7C15ull);
    const zorvane_node_t tree = tree_of(list);
    const std::string file = m_rig.write_tree_file("large.xml", tree);

    auto kv = run_ok("desktop", {"sync", "--tree", file});
    EXPECT_EQ(kv["version"], "1");
    EXPECT_EQ(kv["nodes"], std::to_string(list.size() + 2));

    // The laptop's first sync: the account's tree comes down in the update.
    kv = run_ok("laptop", {"sync", "--tree", file, "--out", m_rig.path("laptop-out.xml")});
    EXPECT_EQ(kv["version"], "1");
    const auto updates = logged_bytes_out(m_rig.server().log(), "Update");
    ASSERT_FALSE(updates.empty());
    EXPECT_GT(*std::max_element(updates.begin(), updates.end()), 10ll * 1024 * 1024)
        << "the reply did not reach 10 MiB packed";

    // An edit on the laptop goes up and reaches the desktop.
    std::vector<bookmark_t> edited = list;
    edited[7].title = "Edited on the laptop";
    edited.push_back({"added", "Added on the laptop", "https://example.org/added"});
    kv = run_ok("laptop", {"sync", "--tree", m_rig.write_tree_file("edited.xml", tree_of(edited))});
    EXPECT_EQ(kv["version"], "2");
    kv = run_ok("desktop", {"update"});
    EXPECT_EQ(kv["version"], "2");

    const zorvane_node_t desktop = m_rig.exported("desktop");
    const zorvane_node_t laptop = m_rig.exported("laptop");
    EXPECT_TRUE(Core_ZorvaneMerge::trees_equal(desktop, laptop));
    EXPECT_TRUE(bookmarks_by_url(desktop) == bookmarks_by_url(edited));
}

INSTANTIATE_TEST_SUITE_P(Stores, LargeAccount,
                         ::testing::Values(backend_enum::SQLITE, backend_enum::POSTGRESQL),
                         [](const auto& test) {
                             return test.param == backend_enum::SQLITE ? "sqlite" : "postgresql";
                         });

// A data directory with a record from a real server, pointed at servers that
// misbehave: each sync must end within its --timeout (plus the host's grace)
// with a failure, leave the data directory's files as they were and write no
// --out file.
class MisbehavingServer : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_NO_FATAL_FAILURE(m_rig.start(m_scratch.url()));
        const auto r = m_rig.zorvane(
            "desktop",
            {"sync", "--tree", m_rig.write_tree_file("start.xml", testing::make_tree(5, "s"))});
        ASSERT_EQ(r.status, 0) << r.out << r.err;
        m_changed = m_rig.write_tree_file("changed.xml", testing::make_tree(7, "s"));
        m_before = testing::directory_bytes(m_rig.data_dir("desktop"));
    }

    // zorvane sync of the changed tree against 127.0.0.1:`port` with
    // --timeout `seconds`; checks the outcome and returns how long it took.
    std::chrono::steady_clock::duration sync_against(std::uint16_t port, int seconds) {
        const std::string out = m_rig.path("out.xml");
        const auto started = std::chrono::steady_clock::now();
        const process_result_t r = Core_Server::testing::run_process(
            ZV_ZORVANE_BINARY,
            {"--data-dir", m_rig.data_dir("desktop"), "--server",
             "127.0.0.1:" + std::to_string(port), "--user", host_rig_t::kUser, "--password-env",
             host_rig_t::kPasswordVariable, "--timeout", std::to_string(seconds), "sync", "--tree",
             m_changed, "--out", out},
            {{host_rig_t::kPasswordVariable, host_rig_t::kPassword}});
        const auto took = std::chrono::steady_clock::now() - started;
        EXPECT_EQ(r.status, 1) << r.out << r.err;
        EXPECT_EQ(parse_lines(r.out)["result"], kConnectFailed) << r.out << r.err;
        EXPECT_FALSE(std::filesystem::exists(out));
        EXPECT_TRUE(
            testing::same_files(m_before, testing::directory_bytes(m_rig.data_dir("desktop"))));
        return took;
    }

    scratch_store_t m_scratch{backend_enum::SQLITE};
    host_rig_t m_rig;
    std::string m_changed;
    std::map<std::string, std::string> m_before;
};

TEST_F(MisbehavingServer, DroppedConnectionAttemptsEndAtTheTimeout) {
    Core_Socket::testing::DroppingListener listener;
    ASSERT_TRUE(listener.full());
    const auto took = sync_against(listener.port(), 3);
    EXPECT_GE(took, 2900ms);
    EXPECT_LT(took, 15s);  // the deadline, not the system's retries (about two minutes)
}

TEST_F(MisbehavingServer, AReplyTrickledAByteASecondEndsAtTheTimeout) {
    Core_Socket::testing::ScriptedPeer trickler([](Core_Socket::testing::PeerConnection& c) {
        c.read_request();
        // The start of a reply header, then a byte every second for half a
        // minute: the connection is never idle for as long as the 3 s
        // timeout, so only a deadline on the whole reply ends it.
        for (int i = 0; i < 30; ++i) {
            if (!c.write(std::string(1, i == 1 ? '\x16' : '\0'))) return;
            if (c.wait_closed(1s)) return;
        }
    });
    const auto took = sync_against(trickler.port(), 3);
    EXPECT_GE(took, 2900ms);
    EXPECT_LT(took, 15s);  // the deadline, not the end of the trickle
    EXPECT_TRUE(trickler.wait_finished(1, 10s));
}

}  // namespace
}  // namespace Zorvane_Cli
