#include "sync_handler.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <atomic>
#include <fstream>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "common/crypto.h"
#include "common/gzip.h"
#include "common/wire_constants.h"
#include "password_hash.h"
#include "process_testing.h"
#include "server_process_testing.h"
#include "session_envelope.h"
#include "store_open.h"
#include "store_testing.h"

namespace Core_Server {
namespace {

using namespace std::chrono_literals;
using testing::backend_enum;
using testing::client_t;
using ::testing::HasSubstr;
using testing::scratch_store_t;
using testing::server_process_t;

std::string tree_document(const std::string& title, int bookmarks = 1) {
    std::string children;
    for (int i = 0; i < bookmarks; ++i) {
        children += "<node><guid>b" + std::to_string(i) + "</guid><type>bookmark</type><name>" +
                    title + "</name><url>http://example.org/" + std::to_string(i) + "</url></node>";
    }
    return "<?xml version=\"1.0\" encoding=\"UTF-8\"?><nodeset><node><guid>ROOT</guid>"
           "<type>folder</type><name>r</name><children>" +
           children + "</children></node></nodeset>";
}

// One request through the wire; the reply's envelope is checked here.
bool exchange(std::uint16_t port, const std::string& body, sync_reply_t& reply,
              std::uint64_t sequence = 77) {
    client_t client(port);
    if (!client.send_all(make_request(sequence, 0, "", body))) return false;
    const std::string bytes = client.receive_all();
    if (bytes.size() < REPLY_HEADER_SIZE) return false;
    request_envelope_t echo;
    echo.sequence = sequence;
    const std::string body_part = bytes.substr(REPLY_HEADER_SIZE);
    if (bytes != make_reply(echo, body_part)) return false;
    return read_sync_reply(body_part, reply);
}

sync_request_t update(const std::string& user, const std::string& password, int baseline) {
    sync_request_t r;
    r.action = sync_action_enum::UPDATE;
    r.user = user;
    r.password = password;
    r.peer_id = std::string(40, 'a');
    r.baseline = baseline;
    return r;
}

sync_request_t commit(const std::string& user, const std::string& password, int baseline,
                      const std::string& tree, const std::string& client = "desktop") {
    sync_request_t r = update(user, password, baseline);
    r.action = sync_action_enum::COMMIT;
    r.client_type = client;
    r.data = tree;
    return r;
}

sync_reply_t ask(std::uint16_t port, const sync_request_t& request) {
    std::string body;
    EXPECT_TRUE(write_sync_request(request, body));
    sync_reply_t reply;
    EXPECT_TRUE(exchange(port, body, reply));
    return reply;
}

class SyncServerTest : public ::testing::TestWithParam<backend_enum> {
protected:
    void SetUp() override {
        ZV_REQUIRE_STORE(m_scratch);
        std::unique_ptr<InterfaceStore> store;
        ASSERT_TRUE(open_store(m_scratch.url(), store_options_t{}, store).ok());
        std::string record;
        ASSERT_TRUE(hash_password("secret", password_hash_params_t{10, 8, 1}, record));
        ASSERT_TRUE(store->add_account("bob", record).ok());
    }
    std::unique_ptr<InterfaceStore> open() {
        std::unique_ptr<InterfaceStore> store;
        EXPECT_TRUE(open_store(m_scratch.url(), store_options_t{}, store).ok());
        return store;
    }

    scratch_store_t m_scratch{GetParam()};
};

// The environment a running process was started with, as NAME=VALUE lines.
[[maybe_unused]] std::vector<std::string> environment_of(pid_t pid) {
    std::ifstream in("/proc/" + std::to_string(pid) + "/environ", std::ios::binary);
    std::vector<std::string> out;
    std::string entry;
    while (std::getline(in, entry, '\0')) out.push_back(entry);
    return out;
}

TEST_P(SyncServerTest, AnswersUpdatesAndCommitsByTheVersionRules) {
    server_process_t server(m_scratch.url());
    const auto port = server.port();
#if !defined(__SANITIZE_ADDRESS__) && !defined(__SANITIZE_THREAD__)
    // The server started itself again with its large blocks on huge pages,
    // where the kernel gives them.
    std::ifstream thp("/sys/kernel/mm/transparent_hugepage/enabled");
    std::string modes;
    if (std::getline(thp, modes) && modes.find("[never]") == std::string::npos) {
        EXPECT_THAT(environment_of(server.pid()),
                    ::testing::Contains(HasSubstr("glibc.malloc.hugetlb=1")));
    }
#endif
    EXPECT_EQ(ask(port, update("bob", "wrong", 0)).result, "INVALID_PASSWORD");
    EXPECT_EQ(ask(port, update("nobody", "secret", 0)).result, "INVALID_PASSWORD");
    auto r = ask(port, update("bob", "secret", 0));
    EXPECT_EQ(r.result, "NO_RECORD");
    EXPECT_FALSE(r.update);

    const std::string one = tree_document("one"), two = tree_document("two"),
                      three = tree_document("three");
    r = ask(port, commit("bob", "secret", 5, one));
    EXPECT_EQ(r.result, "OK");
    ASSERT_TRUE(r.commit);
    EXPECT_EQ(r.commit->result, "OK");
    EXPECT_EQ(r.commit->version, 1);
    EXPECT_EQ(r.commit->client_type, "desktop");
    EXPECT_EQ(r.commit->date.size(), 19u);
    EXPECT_EQ(r.data, one);

    r = ask(port, update("bob", "secret", 0));
    EXPECT_EQ(r.result, "OK");
    ASSERT_TRUE(r.update);
    EXPECT_EQ(r.update->version, 1);
    EXPECT_EQ(r.update->client_type, "desktop");
    EXPECT_EQ(r.data, one);
    r = ask(port, update("bob", "secret", 1));
    EXPECT_EQ(r.result, "OK");
    EXPECT_FALSE(r.update);
    EXPECT_FALSE(r.commit);
    EXPECT_EQ(r.data, "");

    r = ask(port, commit("bob", "secret", 1, two, "laptop"));
    ASSERT_TRUE(r.commit);
    EXPECT_EQ(r.commit->result, "OK");
    EXPECT_EQ(r.commit->version, 2);
    r = ask(port, commit("bob", "secret", 1, three));
    EXPECT_EQ(r.result, "OK");
    ASSERT_TRUE(r.commit);
    EXPECT_EQ(r.commit->result, "INVALID_VERSION");
    EXPECT_EQ(r.commit->version, 2);
    EXPECT_EQ(r.commit->client_type, "laptop");
    EXPECT_EQ(r.data, two);

    auto overwrite = commit("bob", "secret", 0, three);
    overwrite.overwrite = true;
    r = ask(port, overwrite);
    ASSERT_TRUE(r.commit);
    EXPECT_EQ(r.commit->result, "OK");
    EXPECT_EQ(r.commit->version, 3);
    EXPECT_EQ(r.data, three);

    EXPECT_TRUE(server.wait_for_log("action=OverWrite result=OK", 30s));
    const std::string log = server.log();
    EXPECT_THAT(log, HasSubstr("user=\"bob\" action=Commit result=INVALID_VERSION in="));
    EXPECT_THAT(log, HasSubstr("user=\"nobody\" action=Update result=INVALID_PASSWORD"));
    EXPECT_THAT(log, HasSubstr("peer=127.0.0.1:"));
    EXPECT_EQ(server.stop(), 0);
    EXPECT_THAT(server.log(), HasSubstr("stopping on SIGTERM"));
}

TEST_P(SyncServerTest, RejectsBadDocumentsTreesAndEnvelopes) {
    server_process_t server(m_scratch.url(), {"--max-tree", "400"});
    const auto port = server.port();
    sync_reply_t r;
    ASSERT_TRUE(exchange(port, "not a packed document", r));
    EXPECT_EQ(r.result, "PROTOCOL_ERROR");
    EXPECT_EQ(ask(port, commit("bob", "secret", 0, "not a tree")).result, "PROTOCOL_ERROR");
    EXPECT_EQ(ask(port, commit("bob", "secret", 0, "")).result, "PROTOCOL_ERROR");
    EXPECT_EQ(ask(port, commit("bob", "secret", 0, tree_document("big", 5))).result, "POLICY");
    EXPECT_EQ(ask(port, commit("bob", "secret", 0, tree_document("ok"))).commit->result, "OK");
    client_t garbage(port);
    ASSERT_TRUE(garbage.send_all("\x16\x03\x01 not the protocol"));
    EXPECT_EQ(garbage.receive_all(), "");
    EXPECT_TRUE(server.wait_for_log("result=dropped: not a request", 30s));
    EXPECT_EQ(ask(port, update("bob", "secret", 0)).update->version, 1);
}

TEST_P(SyncServerTest, FollowsMaintenanceSwitchedByTheOperator) {
    server_process_t server(m_scratch.url());
    const auto port = server.port();
    auto wait_for = [&](const std::string& result) {
        const auto give_up = std::chrono::steady_clock::now() + 30s;
        while (std::chrono::steady_clock::now() < give_up) {
            if (ask(port, update("bob", "secret", 0)).result == result) return true;
            std::this_thread::sleep_for(100ms);
        }
        return false;
    };
    ASSERT_TRUE(wait_for("NO_RECORD"));
    ASSERT_EQ(
        testing::run_process(ZV_SERVER_BINARY, {"--store", m_scratch.url(), "maintenance", "on"})
            .status,
        0);
    EXPECT_TRUE(wait_for("MAINTENANCE"));
    ASSERT_EQ(
        testing::run_process(ZV_SERVER_BINARY, {"--store", m_scratch.url(), "maintenance", "off"})
            .status,
        0);
    EXPECT_TRUE(wait_for("NO_RECORD"));
}

TEST_P(SyncServerTest, AnswersExceptionWhenTheStoreFailsAndLogsWhy) {
    server_process_t server(m_scratch.url());
    ASSERT_EQ(ask(server.port(), commit("bob", "secret", 0, tree_document("x"))).commit->result,
              "OK");
    m_scratch.execute("DROP TABLE tree_versions");
    const auto r = ask(server.port(), update("bob", "secret", 0));
    EXPECT_EQ(r.result, "EXCEPTION");
    EXPECT_EQ(r.result_message, "");
    EXPECT_TRUE(server.wait_for_log("store failure for peer 127.0.0.1:", 30s));
    EXPECT_THAT(server.log(), HasSubstr("tree_versions"));
}

TEST_P(SyncServerTest, AnswersBusyOverTheConnectionLimit) {
    server_process_t server(m_scratch.url(), {"--max-connections", "1", "--timeout", "60"});
    client_t holder(server.port());
    // Once the server has taken the silent connection, the next is busy.
    std::string result;
    const auto give_up = std::chrono::steady_clock::now() + 30s;
    while (result != "BUSY" && std::chrono::steady_clock::now() < give_up) {
        result = ask(server.port(), update("bob", "secret", 0)).result;
        if (result != "BUSY") std::this_thread::sleep_for(100ms);
    }
    EXPECT_EQ(result, "BUSY");
}

// Clients that retry on INVALID_VERSION, spread over two server processes on
// one store: every commit lands once, versions have no gaps, and each client
// sees its own versions strictly increase.
TEST_P(SyncServerTest, TwoServersOnOneStoreNeverLoseACommit) {
    server_process_t first(m_scratch.url(), {"--threads", "2"});
    server_process_t second(m_scratch.url(), {"--threads", "2"});
    constexpr int kClients = 4, kCommits = 8;
    std::atomic<int> failures{0};
    std::vector<std::thread> clients;
    for (int c = 0; c < kClients; ++c) {
        clients.emplace_back([&, c] {
            int baseline = 0, last = 0;
            for (int i = 0; i < kCommits; ++i) {
                const std::string tree =
                    tree_document("c" + std::to_string(c) + "i" + std::to_string(i));
                for (int attempt = 0;; ++attempt) {
                    const auto port = (attempt + c) % 2 ? first.port() : second.port();
                    const auto r = ask(port, commit("bob", "secret", baseline, tree));
                    if (!r.commit || attempt > 200) {
                        ++failures;
                        return;
                    }
                    baseline = r.commit->version;
                    if (r.commit->result == "OK") {
                        if (r.commit->version <= last) ++failures;
                        last = r.commit->version;
                        break;
                    }
                }
            }
        });
    }
    for (auto& t : clients) t.join();
    ASSERT_EQ(failures.load(), 0);
    auto store = open();
    account_t bob;
    ASSERT_TRUE(store->find_account("bob", bob).ok());
    tree_version_t latest;
    ASSERT_TRUE(store->latest_version(bob.id, false, latest).ok());
    EXPECT_EQ(latest.version, kClients * kCommits);
}

// kill -9 in the middle of a burst of commits: after a restart every
// acknowledged version is there, whole.
TEST_P(SyncServerTest, AcknowledgedCommitsSurviveAKill) {
    std::map<int, std::string> acknowledged;
    std::mutex mutex;
    {
        server_process_t server(m_scratch.url(), {"--threads", "2"});
        std::atomic<bool> stop{false};
        std::vector<std::thread> writers;
        for (int w = 0; w < 2; ++w) {
            writers.emplace_back([&, w] {
                int baseline = 0;
                for (int i = 0; !stop; ++i) {
                    const std::string tree =
                        tree_document("w" + std::to_string(w) + "i" + std::to_string(i), 20);
                    std::string body;
                    if (!write_sync_request(commit("bob", "secret", baseline, tree), body)) return;
                    sync_reply_t r;
                    if (!exchange(server.port(), body, r) || !r.commit) continue;
                    baseline = r.commit->version;
                    if (r.commit->result == "OK") {
                        std::lock_guard<std::mutex> lock(mutex);
                        acknowledged[r.commit->version] = tree;
                    }
                }
            });
        }
        for (int i = 0; i < 3000; ++i) {
            {
                std::lock_guard<std::mutex> lock(mutex);
                if (acknowledged.size() >= 15) break;
            }
            std::this_thread::sleep_for(20ms);
        }
        EXPECT_EQ(server.stop(SIGKILL), 128 + SIGKILL);
        stop = true;
        for (auto& t : writers) t.join();
    }
    ASSERT_GE(acknowledged.size(), 15u);
    server_process_t restarted(m_scratch.url());
    auto store = open();
    account_t bob;
    ASSERT_TRUE(store->find_account("bob", bob).ok());
    // Retention follows the newest stored version, which may be newer than
    // the newest acknowledged one (a commit stored just before the kill whose
    // reply never arrived).
    tree_version_t newest;
    ASSERT_TRUE(store->latest_version(bob.id, false, newest).ok());
    ASSERT_GE(newest.version, acknowledged.rbegin()->first);
    for (const auto& [version, tree] : acknowledged) {
        tree_version_t kept;
        if (version <= newest.version - DEFAULT_KEEP_VERSIONS) continue;
        ASSERT_TRUE(store->get_version(bob.id, version, kept).ok()) << version;
        EXPECT_EQ(kept.tree, tree) << version;
    }
    const auto r = ask(restarted.port(), update("bob", "secret", 0));
    ASSERT_TRUE(r.update);
    EXPECT_GE(r.update->version, acknowledged.rbegin()->first);
}

INSTANTIATE_TEST_SUITE_P(Backends, SyncServerTest,
                         ::testing::Values(backend_enum::SQLITE, backend_enum::POSTGRESQL),
                         [](const auto& test) { return testing::backend_name(test.param); });

TEST(SyncMessage, RequestsAndRepliesRoundTrip) {
    auto request = commit(
        "b\xc3\xb6"
        "b",
        "p<&>w", 12, tree_document("t"), "laptop");
    request.overwrite = true;
    std::string body;
    ASSERT_TRUE(write_sync_request(request, body));
    sync_request_t read;
    ASSERT_TRUE(read_sync_request(body, read));
    EXPECT_EQ(read.action, sync_action_enum::COMMIT);
    EXPECT_EQ(read.user, request.user);
    EXPECT_EQ(read.password, request.password);
    EXPECT_EQ(read.client_type, "laptop");
    EXPECT_TRUE(read.overwrite);
    EXPECT_EQ(read.baseline, 12);
    EXPECT_EQ(read.data, request.data);

    sync_reply_t reply;
    reply.commit = sync_reply_t::commit_t{"INVALID_VERSION", 4, "2026-01-01 00:00:00", "x"};
    reply.data = "tree";
    ASSERT_TRUE(write_sync_reply(reply, body));
    sync_reply_t back;
    ASSERT_TRUE(read_sync_reply(body, back));
    EXPECT_EQ(back.result, "OK");
    ASSERT_TRUE(back.commit);
    EXPECT_EQ(back.commit->result, "INVALID_VERSION");
    EXPECT_EQ(back.commit->version, 4);
    EXPECT_EQ(back.commit->date, "2026-01-01 00:00:00");
    EXPECT_EQ(back.data, "tree");

    // Damage anywhere makes the body unreadable, never half-read.
    for (std::size_t i = 0; i < body.size(); i += 7) {
        std::string broken = body;
        broken[i] = static_cast<char>(broken[i] ^ 0x5a);
        sync_request_t ignored;
        EXPECT_FALSE(read_sync_request(broken, ignored)) << "byte " << i;
    }
    sync_request_t ignored;
    EXPECT_FALSE(read_sync_request("", ignored));
    EXPECT_FALSE(read_sync_request(std::string(100, '\0'), ignored));
}

// A body of the given message document and data part, packed as clients
// pack theirs.
std::string packed(const std::string& xml, const std::string& data = "") {
    std::string payload;
    for (const std::size_t n : {xml.size(), data.size()})
        for (int shift = 24; shift >= 0; shift -= 8)
            payload.push_back(static_cast<char>(n >> shift));
    payload += xml + data;
    EXPECT_TRUE(Core_Common::gzip_compress(payload));
    EXPECT_TRUE(Core_Common::encrypt(Core_Common::kMessagePassphrase, payload));
    return payload;
}

std::string request_document(const std::string& fields) {
    return "<?xml version=\"1.0\"?><Zorvane><Zorvane><Request><Commit>" + fields +
           "</Commit></Request></Zorvane></Zorvane>";
}

std::string fields(const std::string& user, const std::string& password, const std::string& peer,
                   const std::string& client_type = "desktop") {
    return "<Username>" + user + "</Username><Password>" + password +
           "</Password><ClientVersion>0</ClientVersion><PeerID>" + peer + "</PeerID><ClientType>" +
           client_type + "</ClientType><BookmarkVersionBaseline>0</BookmarkVersionBaseline>";
}

TEST(SyncMessage, HardCapsRefuseARequestBeforeAnythingElseLooksAtIt) {
    request_limits_t limits;
    limits.max_tree_bytes = 1000;
    const std::string peer(40, 'a');
    auto read = [&](const std::string& body) {
        sync_request_t r;
        return read_sync_request(body, limits, r);
    };
    constexpr auto READ = request_read_enum::READ;
    constexpr auto MALFORMED = request_read_enum::MALFORMED;
    constexpr auto TOO_LARGE = request_read_enum::TOO_LARGE;
    // At the bounds: accepted, the peer identifier in lower case.
    sync_request_t r;
    ASSERT_EQ(read_sync_request(
                  packed(request_document(fields(std::string(255, 'u'), std::string(1024, 'p'),
                                                 std::string(40, 'F'), std::string(64, 't'))),
                         std::string(1000, 'd')),
                  limits, r),
              READ);
    EXPECT_EQ(r.peer_id, std::string(40, 'f'));
    EXPECT_TRUE(r.data.empty()) << "the data part waits for the password check";
    EXPECT_EQ(read_request_data(r, limits), READ);
    EXPECT_EQ(r.data, std::string(1000, 'd'));
    // A data part longer or shorter than its length says passes until it is
    // unpacked; an update's is only checked.
    const std::string document = request_document(fields("bob", "p", peer));
    for (const auto& [stated, data] :
         {std::pair<std::size_t, std::string>{999, std::string(1000, 'd')},
          {1000, std::string(999, 'd')},
          {1000, std::string(1000, 'd')}}) {
        std::string payload;
        for (const std::size_t n : {document.size(), stated})
            for (int shift = 24; shift >= 0; shift -= 8)
                payload.push_back(static_cast<char>(n >> shift));
        payload += document + data;
        ASSERT_TRUE(Core_Common::gzip_compress(payload));
        ASSERT_TRUE(Core_Common::encrypt(Core_Common::kMessagePassphrase, payload));
        const auto expected = stated == data.size() ? READ : MALFORMED;
        for (const bool keep : {true, false}) {
            ASSERT_EQ(read_sync_request(payload, limits, r), READ) << stated;
            EXPECT_EQ(read_request_data(r, limits, keep), expected) << stated << " " << keep;
            EXPECT_EQ(r.data.size(), expected == READ && keep ? stated : 0u);
            EXPECT_TRUE(r.packed.member.empty());
        }
    }
    // One past each bound, or off the rule.
    EXPECT_EQ(read(packed(request_document(fields(std::string(256, 'u'), "p", peer)))), MALFORMED);
    EXPECT_EQ(read(packed(request_document(fields("bo\x01b", "p", peer)))), MALFORMED);
    EXPECT_EQ(read(packed(request_document(fields("bob", std::string(1025, 'p'), peer)))),
              MALFORMED);
    for (const std::string& bad_peer :
         {std::string(39, 'a'), std::string(41, 'a'), std::string(39, 'a') + "g", std::string()}) {
        EXPECT_EQ(read(packed(request_document(fields("bob", "p", bad_peer)))), MALFORMED)
            << bad_peer;
    }
    EXPECT_EQ(read(packed(request_document("<Username>bob</Username><Password>p</Password>"))),
              MALFORMED)
        << "every request carries its PeerID";
    EXPECT_EQ(read(packed(request_document(fields("bob", "p", peer, std::string(65, 't'))))),
              MALFORMED);
    EXPECT_EQ(read(packed(request_document(fields("bob", "p", peer)), std::string(1001, 'd'))),
              TOO_LARGE);
    // The document: a type declaration, a deep or wide one, a long one.
    std::string laughs = "<!DOCTYPE Zorvane [<!ENTITY a0 \"xxxxxxxxxxxxxxxx\">";
    for (int i = 1; i < 10; ++i) {
        laughs += "<!ENTITY a" + std::to_string(i) + " \"";
        for (int j = 0; j < 10; ++j) laughs += "&a" + std::to_string(i - 1) + ";";
        laughs += "\">";
    }
    laughs += "]>" + request_document(fields("&a9;", "p", peer)).substr(21);
    EXPECT_EQ(read(packed(laughs)), MALFORMED);
    EXPECT_EQ(read(packed(
                  request_document(fields("bob", "p", peer) + "<x><x><x><x><x/></x></x></x></x>"))),
              MALFORMED);
    std::string wide;
    for (int i = 0; i < 60; ++i) wide += "<x/>";
    EXPECT_EQ(read(packed(request_document(fields("bob", "p", peer) + wide))), MALFORMED);
    EXPECT_EQ(read(packed(request_document(fields("bob", "p", peer) + "<x>" +
                                           std::string(16 * 1024, 'x') + "</x>"))),
              MALFORMED);
    // 16 MiB of empty elements packed into some tens of kilobytes: refused as too
    // large while unpacking, never built.
    std::string bomb;
    while (bomb.size() < 16 * 1024 * 1024) bomb += "<a/><a/><a/><a/>";
    const std::string body = packed(request_document(bomb));
    EXPECT_LT(body.size(), 128u * 1024);
    EXPECT_EQ(read(body), TOO_LARGE);
}

}  // namespace
}  // namespace Core_Server
