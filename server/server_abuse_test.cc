// A real zorvane-server on loopback, on each store, under the attacks a
// hostile client can make without an account: entity bombs, packed element
// floods, headers that announce what never comes, idle sockets by the
// thousand, password guessing with names and without, large bodies that use
// up the memory budget, and names made to break the log. Meanwhile a
// legitimate client commits and updates from its own address. The server
// must keep its peak memory bounded, serve the legitimate client within its
// deadline throughout, keep every commit it acknowledged, and write only
// bounded, escaped log lines.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <zlib.h>

#include <algorithm>
#include <atomic>
#include <map>
#include <mutex>
#include <random>
#include <sstream>
#include <thread>

#include "common/crypto.h"
#include "common/gzip.h"
#include "common/wire_constants.h"
#include "password_hash.h"
#include "server_process_testing.h"
#include "session_envelope.h"
#include "store_open.h"
#include "store_testing.h"
#include "sync_message.h"

namespace Core_Server {
namespace {

using namespace std::chrono_literals;
using testing::backend_enum;
using testing::client_t;
using testing::scratch_store_t;
using testing::server_process_t;

constexpr const char* kAlice = "127.0.0.2";  // the legitimate client's address

// The server's peak memory allowed: the password checks (32 MiB each, two
// at once), the byte budget and the workers' unpacking, nowhere near the
// gigabytes these requests once took. AddressSanitizer keeps freed memory
// aside and adds its own; ThreadSanitizer's shadow memory makes the figure
// meaningless, so it is only printed there.
#if defined(__SANITIZE_THREAD__)
constexpr long kPeakKiB = 0;
#elif defined(__SANITIZE_ADDRESS__)
constexpr long kPeakKiB = 1024 * 1024;
#else
constexpr long kPeakKiB = 320 * 1024;
#endif
const std::string kPeer = "00112233445566778899aabbccddeeff00112233";
// What requests with packed data parts of 120 MiB may add to the server's
// peak: the password checks and a megabyte or so per request, far less than
// one such data part unpacked.
#if defined(__SANITIZE_ADDRESS__)
constexpr long kDataPartPeakKiB = 400 * 1024;
#else
constexpr long kDataPartPeakKiB = 96 * 1024;
#endif

// The body of a message document and data part, packed as clients pack theirs.
std::string packed(const std::string& xml, const std::string& data = "") {
    std::string payload;
    for (const std::size_t n : {xml.size(), data.size()})
        for (int shift = 24; shift >= 0; shift -= 8)
            payload.push_back(static_cast<char>(n >> shift));
    payload += xml + data;
    if (!Core_Common::gzip_compress(payload) ||
        !Core_Common::encrypt(Core_Common::kMessagePassphrase, payload)) {
        throw std::runtime_error("cannot pack");
    }
    return payload;
}

std::string request_document(const std::string& user, const std::string& inner = "") {
    return "<?xml version=\"1.0\"?><Zorvane><Zorvane><Request><Update><Username>" + user +
           "</Username><Password>x</Password><ClientVersion>0</ClientVersion><PeerID>" + kPeer +
           "</PeerID><BookmarkVersionBaseline>0</BookmarkVersionBaseline>" + inner +
           "</Update></Request></Zorvane></Zorvane>";
}

// Sends `body` as one request from `source` and returns the reply's result,
// "" when the connection closed without one.
std::string result_of(std::uint16_t port, const std::string& body, const char* source) {
    client_t client(port, 30, source);
    if (!client.connected() || !client.send_all(make_request(1, 0, "", body))) return "";
    const std::string bytes = client.receive_all();
    if (bytes.size() < REPLY_HEADER_SIZE) return "";
    sync_reply_t reply;
    if (!read_sync_reply(bytes.substr(REPLY_HEADER_SIZE), reply)) return "";
    return reply.commit ? reply.commit->result : reply.result;
}

std::string tree_document(int generation) {
    std::string children;
    for (int i = 0; i < 50; ++i) {
        children += "<node><guid>b" + std::to_string(i) + "</guid><type>bookmark</type><name>" +
                    std::to_string(generation) + "</name><url>http://example.org/" +
                    std::to_string(i) + "</url></node>";
    }
    return "<?xml version=\"1.0\" encoding=\"UTF-8\"?><nodeset><node><guid>ROOT</guid>"
           "<type>folder</type><name>r</name><children>" +
           children + "</children></node></nodeset>";
}

class ServerAbuse : public ::testing::TestWithParam<backend_enum> {
protected:
    void SetUp() override {
        ZV_REQUIRE_STORE(m_scratch);
        std::unique_ptr<InterfaceStore> store;
        ASSERT_TRUE(open_store(m_scratch.url(), store_options_t{}, store).ok());
        std::string record;
        ASSERT_TRUE(hash_password("alice's secret", password_hash_params_t{}, record));
        ASSERT_TRUE(store->add_account("alice", record).ok());
    }

    scratch_store_t m_scratch{GetParam()};
};

TEST_P(ServerAbuse, StaysBoundedAndServesTheRightfulClientThroughout) {
    server_process_t server(m_scratch.url(),
                            {"--max-tree", "4194304", "--max-request", "8388608", "--max-buffered",
                             "33554432", "--max-per-address", "16", "--header-timeout", "2",
                             "--timeout", "6", "--threads", "6", "--password-checks", "2"});
    const std::uint16_t port = server.port();
    const long start_kib = server.memory_kib();

    // The rightful client: commit, update, commit..., each answered within
    // its deadline (a BUSY answer is tried again, as clients do).
    std::atomic<bool> attacking{true};
    std::map<int, std::string> acknowledged;
    std::vector<std::string> unserved;
    std::thread alice([&] {
        int baseline = 0;
        for (int generation = 1; attacking || generation < 4; ++generation) {
            for (const bool commit : {true, false}) {
                sync_request_t request;
                request.action = commit ? sync_action_enum::COMMIT : sync_action_enum::UPDATE;
                request.user = "alice";
                request.password = "alice's secret";
                request.peer_id = kPeer;
                request.client_type = "desktop";
                request.baseline = baseline;
                if (commit) request.data = tree_document(generation);
                std::string body;
                if (!write_sync_request(request, body)) return unserved.push_back("pack");
                const auto deadline = std::chrono::steady_clock::now() + 20s;
                sync_reply_t reply;
                bool served = false;
                while (!served && std::chrono::steady_clock::now() < deadline) {
                    client_t client(port, 20, kAlice);
                    client.send_all(make_request(generation, 0, "", body));
                    const std::string bytes = client.receive_all();
                    served = bytes.size() >= REPLY_HEADER_SIZE &&
                             read_sync_reply(bytes.substr(REPLY_HEADER_SIZE), reply) &&
                             reply.result != "BUSY";
                    if (!served) std::this_thread::sleep_for(200ms);
                }
                if (!served || reply.result != "OK") {
                    unserved.push_back(std::to_string(generation) +
                                       (commit ? " commit " : " update ") +
                                       (served ? reply.result : "no answer in 20 s"));
                    continue;
                }
                if (commit && reply.commit && reply.commit->result == "OK") {
                    baseline = reply.commit->version;
                    acknowledged[baseline] = request.data;
                }
            }
        }
    });

    std::vector<std::thread> attackers;
    auto attack = [&](auto&& body) {
        attackers.emplace_back([&, body] {
            while (attacking) body();
        });
    };
    // Nested entities in 1.3 KB.
    std::string laughs = "<!DOCTYPE Zorvane [<!ENTITY a0 \"xxxxxxxxxxxxxxxx\">";
    for (int i = 1; i < 12; ++i) {
        laughs += "<!ENTITY a" + std::to_string(i) + " \"";
        for (int j = 0; j < 10; ++j) laughs += "&a" + std::to_string(i - 1) + ";";
        laughs += "\">";
    }
    const std::string entity_bomb = packed(laughs + "]>" + request_document("&a11;").substr(21));
    std::atomic<int> refused_documents{0};
    attack([&] {
        if (result_of(port, entity_bomb, "127.0.0.3") == "PROTOCOL_ERROR") ++refused_documents;
    });
    // Empty elements packed 250 to 1: 64 KB that unpacks to 16 MiB.
    std::string flood;
    while (flood.size() < 16 * 1024 * 1024) flood += "<a/><a/><a/><a/><a/><a/><a/><a/>";
    const std::string element_bomb = packed(request_document("bob", flood));
    attack([&] {
        const std::string r = result_of(port, element_bomb, "127.0.0.3");
        if (r == "POLICY" || r == "PROTOCOL_ERROR") ++refused_documents;
    });
    // Headers announcing 8 MiB that never comes, up to the address's limit
    // and beyond.
    attack([&] {
        std::vector<std::unique_ptr<client_t>> held;
        const std::string header = make_request(1, 0, "", std::string(8388000, 'h')).substr(0, 38);
        for (int i = 0; i < 24; ++i) {
            held.push_back(std::make_unique<client_t>(port, 10, "127.0.0.4"));
            held.back()->send_all(header);
        }
        for (auto& c : held) c->receive_all();
    });
    // A thousand idle sockets at once.
    attack([&] {
        std::vector<std::unique_ptr<client_t>> idle;
        for (int i = 0; i < 1024; ++i)
            idle.push_back(std::make_unique<client_t>(port, 1, "127.0.0.5"));
        std::this_thread::sleep_for(1s);
    });
    // Guesses at alice's password, and at names nobody has, 255 bytes long
    // and made to break a log line.
    std::atomic<int> guesses{0};
    attack([&] {
        sync_request_t guess;
        guess.user = "alice";
        guess.password = "guess " + std::to_string(guesses++);
        guess.peer_id = std::string(40, 'e');
        std::string body;
        if (write_sync_request(guess, body)) result_of(port, body, "127.0.0.6");
    });
    attack([&] {
        sync_request_t guess;
        guess.user =
            "\x1b[31m\xE2\x80\xAE" + std::to_string(guesses++) + "\"" + std::string(240, 'n');
        guess.user.resize(255, 'n');
        guess.password = "x";
        guess.peer_id = std::string(40, 'e');
        std::string body;
        if (write_sync_request(guess, body)) result_of(port, body, "127.0.0.7");
    });
    // Bodies of 7 MiB from several addresses at once: more than the budget.
    std::mt19937 random(7);
    std::string noise(7 * 1024 * 1024, '\0');
    for (char& c : noise) c = static_cast<char>(random());
    for (const char* source :
         {"127.0.0.8", "127.0.0.9", "127.0.0.10", "127.0.0.11", "127.0.0.12", "127.0.0.13"}) {
        attack([&, source] { result_of(port, noise, source); });
    }

    std::this_thread::sleep_for(15s);
    attacking = false;
    for (auto& t : attackers) t.join();
    alice.join();

    const long peak_kib = server.memory_kib();
    std::cout << "[ server_abuse ] " << testing::backend_name(GetParam()) << ": peak memory "
              << peak_kib / 1024 << " MiB (" << start_kib / 1024 << " MiB at start), "
              << guesses.load() << " guesses, " << refused_documents.load() << " bombs refused, "
              << acknowledged.size() << " commits acknowledged\n";
    if (kPeakKiB > 0) {
        EXPECT_LT(peak_kib, kPeakKiB);
    }
    EXPECT_GT(refused_documents.load(), 0);
    EXPECT_TRUE(unserved.empty()) << ::testing::PrintToString(unserved);
    ASSERT_GE(acknowledged.size(), 3u);

    // The server still runs, and every acknowledged commit is there.
    EXPECT_EQ(::kill(server.pid(), 0), 0);
    std::unique_ptr<InterfaceStore> store;
    ASSERT_TRUE(open_store(m_scratch.url(), store_options_t{}, store).ok());
    account_t account;
    ASSERT_TRUE(store->find_account("alice", account).ok());
    std::vector<tree_version_t> kept;
    ASSERT_TRUE(store->list_versions(account.id, kept).ok());
    ASSERT_FALSE(kept.empty());
    EXPECT_EQ(kept.front().version, acknowledged.rbegin()->first);
    for (const auto& v : kept) {
        tree_version_t version;
        ASSERT_TRUE(store->get_version(account.id, v.version, version).ok());
        ASSERT_EQ(acknowledged.count(v.version), 1u) << v.version;
        EXPECT_EQ(version.tree, acknowledged[v.version]) << v.version;
    }

    // Every log line is short and holds no control character.
    server.stop();
    std::istringstream log(server.log());
    std::string line;
    std::size_t lines = 0;
    bool refused_per_address = false;
    while (std::getline(log, line)) {
        ++lines;
        EXPECT_LT(line.size(), 1200u) << line.substr(0, 200);
        EXPECT_EQ(line.find_first_of("\x1b\r\x07"), std::string::npos) << line;
        EXPECT_EQ(line.find("\xE2\x80\xAE"), std::string::npos) << line;
        refused_per_address |=
            line.find("too many connections from this address") != std::string::npos;
    }
    EXPECT_GT(lines, 100u);
    EXPECT_TRUE(refused_per_address);
}

// A body whose data part is `data_length` zero bytes, packed as tightly as
// deflate packs: about a thousand to one.
std::string packed_zeros(const std::string& xml, std::size_t data_length) {
    std::string payload;
    for (const std::size_t n : {xml.size(), data_length})
        for (int shift = 24; shift >= 0; shift -= 8)
            payload.push_back(static_cast<char>(n >> shift));
    payload += xml;
    z_stream zs{};
    if (deflateInit2(&zs, 9, Z_DEFLATED, 16 + 15, 9, Z_DEFAULT_STRATEGY) != Z_OK)
        throw std::runtime_error("cannot pack");
    std::string member;
    const std::string zeros(1024 * 1024, '\0');
    auto run = [&](const std::string& in, int flush) {
        zs.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(in.data()));
        zs.avail_in = static_cast<uInt>(in.size());
        do {
            char out[65536];
            zs.next_out = reinterpret_cast<Bytef*>(out);
            zs.avail_out = sizeof out;
            deflate(&zs, flush);
            member.append(out, sizeof out - zs.avail_out);
        } while (zs.avail_out == 0);
    };
    run(payload, Z_NO_FLUSH);
    for (std::size_t left = data_length; left > 0;) {
        const std::size_t n = std::min(left, zeros.size());
        run(zeros.substr(0, n), left == n ? Z_FINISH : Z_NO_FLUSH);
        left -= n;
    }
    deflateEnd(&zs);
    if (!Core_Common::encrypt(Core_Common::kMessagePassphrase, member))
        throw std::runtime_error("cannot pack");
    return member;
}

// At the server's default limits, requests with a wrong password whose data
// part unpacks to 120 MiB from 120 KB, several at once: before the password
// check only their message documents are unpacked, so the server's peak
// memory stays far below even one such data part, every one is refused as
// a wrong password, and the rightful client is served meanwhile.
TEST_P(ServerAbuse, LeavesADataPartPackedUntilThePasswordIsChecked) {
    // The default limits; as many password checks at once as on a machine
    // of two processors.
    server_process_t server(m_scratch.url(), {"--password-checks", "2"});
    const std::uint16_t port = server.port();
    // A BUSY answer is tried again, as clients do.
    auto answer_of = [&](const std::string& body, const char* source) {
        for (int attempt = 0; attempt < 100; ++attempt) {
            const std::string r = result_of(port, body, source);
            if (r != "BUSY") return r;
            std::this_thread::sleep_for(100ms);
        }
        return std::string("BUSY");
    };
    // alice's client syncs before the attack: known to her account, it is
    // not shut out when the guesses lock the account.
    auto alice = [&](sync_action_enum action, int generation) {
        sync_request_t request;
        request.action = action;
        request.user = "alice";
        request.password = "alice's secret";
        request.peer_id = kPeer;
        request.client_type = "desktop";
        request.baseline = generation - 1;
        if (action == sync_action_enum::COMMIT) request.data = tree_document(generation);
        std::string body;
        if (!write_sync_request(request, body)) return std::string("pack");
        return answer_of(body, kAlice);
    };
    ASSERT_EQ(alice(sync_action_enum::COMMIT, 1), "OK");
    const long start_kib = server.memory_kib();

    constexpr std::size_t kDataPart = 120 * 1024 * 1024;
    std::vector<std::string> bombs;
    for (const char* action : {"Commit", "Update"}) {
        bombs.push_back(packed_zeros(
            "<?xml version=\"1.0\"?><Zorvane><Zorvane><Request><" + std::string(action) +
                "><Username>alice</Username><Password>guess</Password><ClientVersion>0"
                "</ClientVersion><PeerID>" +
                std::string(40, 'e') +
                "</PeerID><ClientType>x</ClientType><BookmarkVersionBaseline>0"
                "</BookmarkVersionBaseline></" +
                action + "></Request></Zorvane></Zorvane>",
            kDataPart));
        ASSERT_LT(bombs.back().size(), 200u * 1024);
    }
    constexpr int kAttackers = 6, kRounds = 3;
    std::atomic<int> invalid{0};
    std::vector<std::string> other;
    std::mutex other_mutex;
    std::vector<std::thread> attackers;
    for (int i = 0; i < kAttackers; ++i) {
        attackers.emplace_back([&, i] {
            const std::string source = "127.0.1." + std::to_string(i + 1);
            for (int round = 0; round < kRounds; ++round) {
                const std::string r = answer_of(bombs[i % 2], source.c_str());
                if (r == "INVALID_PASSWORD") {
                    ++invalid;
                } else {
                    std::lock_guard<std::mutex> lock(other_mutex);
                    other.push_back(r);
                }
            }
        });
    }
    EXPECT_EQ(alice(sync_action_enum::UPDATE, 2), "OK");
    EXPECT_EQ(alice(sync_action_enum::COMMIT, 2), "OK");
    for (auto& t : attackers) t.join();
    EXPECT_EQ(alice(sync_action_enum::UPDATE, 3), "OK");

    const long peak_kib = server.memory_kib();
    std::cout << "[ server_abuse ] " << testing::backend_name(GetParam()) << ": peak memory "
              << peak_kib / 1024 << " MiB (" << start_kib / 1024 << " MiB before "
              << kAttackers * kRounds << " requests of 120 MiB data parts)\n";
    EXPECT_EQ(invalid.load(), kAttackers * kRounds) << ::testing::PrintToString(other);
    if (kPeakKiB > 0) {
        EXPECT_LT(peak_kib - start_kib, kDataPartPeakKiB);
    }
}

INSTANTIATE_TEST_SUITE_P(Backends, ServerAbuse,
                         ::testing::Values(backend_enum::SQLITE, backend_enum::POSTGRESQL),
                         [](const auto& test) { return testing::backend_name(test.param); });

}  // namespace
}  // namespace Core_Server
