#include "tcp_server.h"

#include <arpa/inet.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <condition_variable>
#include <filesystem>
#include <mutex>
#include <random>
#include <sstream>
#include <thread>

#include "common/wire_constants.h"
#include "server_process_testing.h"
#include "tls_testing.h"

namespace Core_Server {
namespace {

using namespace std::chrono_literals;
using ::testing::HasSubstr;

// Answers "echo:" and the body, or "busy" when the server says so.
class echo_handler_t final : public InterfaceRequestHandler {
public:
    void handle(const request_t& request, reply_t& reply) override {
        std::lock_guard<std::mutex> lock(m_mutex);
        ++m_calls;
        m_last_peer = request.peer_address;
        reply.user = "tester";
        reply.action = "Echo";
        if (request.busy) {
            reply.body = "busy";
            reply.result = "BUSY";
            return;
        }
        reply.body = "echo:" + request.body;
        reply.result = "OK";
    }
    int calls() {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_calls;
    }
    std::string last_peer() {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_last_peer;
    }

private:
    std::mutex m_mutex;
    int m_calls = 0;
    std::string m_last_peer;
};

// A blocking loopback client that gives up after 10 s of silence.
class client_t : public testing::client_t {
public:
    explicit client_t(std::uint16_t port) : testing::client_t(port, 10) {}
};

class TcpServerTest : public ::testing::Test {
protected:
    void start(tcp_server_options_t options = {}) {
        options.address = "127.0.0.1";
        options.port = 0;
        options.threads = 2;
        m_server = std::make_unique<tcp_server_t>(options, m_handler, m_log);
        std::string error;
        ASSERT_TRUE(m_server->start(error)) << error;
    }
    // The log once `connections` connections have ended.
    std::string settled_log(std::uint64_t connections) {
        for (int i = 0; i < 1000 && m_server->finished_connections() < connections; ++i) {
            std::this_thread::sleep_for(10ms);
        }
        EXPECT_EQ(m_server->finished_connections(), connections);
        return m_log_text.str();
    }

    echo_handler_t m_handler;
    std::ostringstream m_log_text;
    request_log_t m_log{m_log_text};
    std::unique_ptr<tcp_server_t> m_server;
};

TEST_F(TcpServerTest, AnswersOneRequestPerConnectionAndLogsIt) {
    start();
    client_t client(m_server->port());
    ASSERT_TRUE(client.connected());
    ASSERT_TRUE(client.send_all(make_request(0xabcdef0102ull, 0, "", "hello")));
    const std::string reply = client.receive_all();
    request_envelope_t request;
    request.sequence = 0xabcdef0102ull;
    EXPECT_EQ(reply, make_reply(request, "echo:hello"));
    EXPECT_EQ(m_handler.last_peer(), "127.0.0.1");
    const std::string log = settled_log(1);
    EXPECT_THAT(log, HasSubstr(" peer=127.0.0.1:"));
    EXPECT_THAT(log, HasSubstr(" user=\"tester\" action=Echo result=OK in=43 out=32 ms="));
}

TEST_F(TcpServerTest, ServesManyClientsAtOnce) {
    start();
    std::vector<std::thread> threads;
    std::atomic<int> good{0};
    for (int t = 0; t < 8; ++t) {
        threads.emplace_back([&, t] {
            for (int i = 0; i < 10; ++i) {
                client_t client(m_server->port());
                const std::string body(1000 * t + i, 'x');
                request_envelope_t e;
                e.sequence = static_cast<std::uint64_t>(t * 100 + i);
                if (client.send_all(make_request(e.sequence, 0, "", body)) &&
                    client.receive_all() == make_reply(e, "echo:" + body)) {
                    ++good;
                }
            }
        });
    }
    for (auto& t : threads) t.join();
    EXPECT_EQ(good.load(), 80);
    EXPECT_EQ(m_handler.calls(), 80);
}

TEST_F(TcpServerTest, DropsWhatIsNotARequestWithoutAnswering) {
    start();
    {
        client_t client(m_server->port());
        ASSERT_TRUE(client.send_all("GET / HTTP/1.1\r\nHost: x\r\n\r\n"));
        EXPECT_EQ(client.receive_all(), "");
    }
    {
        // A truncated request: the client gives up half-way.
        client_t client(m_server->port());
        ASSERT_TRUE(client.send_all(make_request(1, 0, "", "body").substr(0, 30)));
    }
    std::mt19937 random(4242);
    for (int i = 0; i < 50; ++i) {
        client_t client(m_server->port());
        std::string bytes = i % 2 ? std::string(Core_Common::kSessionPreamble) : std::string();
        const std::size_t n = 1 + random() % 200;
        for (std::size_t k = 0; k < n; ++k) bytes.push_back(static_cast<char>(random()));
        client.send_all(bytes);
    }
    const std::string log = settled_log(52);
    EXPECT_EQ(m_handler.calls(), 0) << log;
    EXPECT_THAT(log, HasSubstr("result=dropped: not a request in=27 out=0"));
    EXPECT_THAT(log, HasSubstr("result=dropped: closed by the client in=30 out=0")) << log;
    // The server still serves.
    client_t client(m_server->port());
    ASSERT_TRUE(client.send_all(make_request(5, 0, "", "ok")));
    EXPECT_THAT(client.receive_all(), HasSubstr("echo:ok"));
}

TEST_F(TcpServerTest, RefusesRequestsOverTheSizeLimitBeforeReadingThem) {
    tcp_server_options_t options;
    options.max_request = 1024;
    start(options);
    client_t client(m_server->port());
    const std::string request = make_request(1, 0, "", std::string(2000, 'x'));
    ASSERT_TRUE(client.send_all(request.substr(0, 38)));
    EXPECT_EQ(client.receive_all(), "");
    EXPECT_THAT(settled_log(1), HasSubstr("result=dropped: request too large in=38"));
    client_t small(m_server->port());
    ASSERT_TRUE(small.send_all(make_request(1, 0, "", std::string(1024 - 38, 'x'))));
    EXPECT_THAT(small.receive_all(), HasSubstr("echo:xxx"));
}

TEST_F(TcpServerTest, CutsOffSlowAndSilentClientsWhileServingOthers) {
    tcp_server_options_t options;
    options.timeout = 600ms;
    start(options);
    const auto begin = std::chrono::steady_clock::now();
    std::thread slow([&] {
        client_t client(m_server->port());
        const std::string request = make_request(1, 0, "", "slowly");
        for (char c : request) {
            if (!client.send_all(std::string(1, c))) break;
            std::this_thread::sleep_for(250ms);
        }
        client.receive_all();
    });
    client_t silent(m_server->port());
    // Others are served meanwhile.
    for (int i = 0; i < 5; ++i) {
        client_t client(m_server->port());
        ASSERT_TRUE(client.send_all(make_request(2, 0, "", "quick")));
        EXPECT_THAT(client.receive_all(), HasSubstr("echo:quick"));
    }
    EXPECT_EQ(silent.receive_all(), "");
    slow.join();
    const auto elapsed = std::chrono::steady_clock::now() - begin;
    // The slow request needs 11 s at its pace; the time-out ends it first.
    EXPECT_LT(elapsed, 8s);
    const std::string log = settled_log(7);
    EXPECT_EQ(m_handler.calls(), 5);
    EXPECT_THAT(log, HasSubstr("result=dropped: time-out in=0 out=0"));
    EXPECT_THAT(log, ::testing::ContainsRegex("result=dropped: time-out in=[1-9]"));
}

TEST_F(TcpServerTest, AnswersBusyAboveTheConnectionLimit) {
    tcp_server_options_t options;
    options.max_connections = 1;
    options.timeout = 5s;
    start(options);
    client_t holder(m_server->port());
    for (int i = 0; i < 500 && m_server->open_connections() < 1; ++i) {
        std::this_thread::sleep_for(10ms);
    }
    ASSERT_EQ(m_server->open_connections(), 1);
    {
        client_t client(m_server->port());
        ASSERT_TRUE(client.send_all(make_request(3, 0, "", "please")));
        EXPECT_THAT(client.receive_all(), HasSubstr("busy"));
    }
    auto wait_for_open = [&](int n) {
        for (int i = 0; i < 500 && m_server->open_connections() != n; ++i) {
            std::this_thread::sleep_for(10ms);
        }
        ASSERT_EQ(m_server->open_connections(), n);
    };
    wait_for_open(1);
    {
        // Twice the limit: further connections are closed on arrival.
        client_t second(m_server->port());
        wait_for_open(2);
        client_t third(m_server->port());
        third.send_all(make_request(4, 0, "", "x"));
        EXPECT_EQ(third.receive_all(), "");
    }
    EXPECT_THAT(settled_log(3), HasSubstr("result=dropped: too many connections"));
}

// Answers "echo:" and the body, or "busy"; a request whose body is "wait"
// waits for open(), one whose body is "throw" throws.
class gated_handler_t final : public InterfaceRequestHandler {
public:
    void handle(const request_t& request, reply_t& reply) override {
        if (request.busy) {
            reply.body = "busy";
            reply.result = "BUSY";
            return;
        }
        if (request.body == "throw") throw std::runtime_error("handler failure");
        if (request.body == "wait") {
            std::unique_lock<std::mutex> lock(m_mutex);
            ++m_waiting;
            m_changed.notify_all();
            m_changed.wait(lock, [&] { return m_open; });
        }
        reply.body = "echo:" + request.body;
        reply.result = "OK";
    }
    void wait_for_waiting(int n) {
        std::unique_lock<std::mutex> lock(m_mutex);
        m_changed.wait(lock, [&] { return m_waiting >= n; });
    }
    void open() {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_open = true;
        m_changed.notify_all();
    }

private:
    std::mutex m_mutex;
    std::condition_variable m_changed;
    int m_waiting = 0;
    bool m_open = false;
};

class TcpServerLimits : public ::testing::Test {
protected:
    void start(tcp_server_options_t options) {
        options.address = "127.0.0.1";
        options.port = 0;
        m_server = std::make_unique<tcp_server_t>(options, m_handler, m_log);
        std::string error;
        ASSERT_TRUE(m_server->start(error)) << error;
    }
    template <class Predicate>
    bool eventually(Predicate done) {
        for (int i = 0; i < 2000 && !done(); ++i) std::this_thread::sleep_for(10ms);
        return done();
    }
    std::string log_text() {
        std::lock_guard<std::mutex> lock(m_log_mutex);
        return m_log_text.str();
    }

    gated_handler_t m_handler;
    std::mutex m_log_mutex;
    std::ostringstream m_log_text;
    request_log_t m_log{m_log_text};
    std::unique_ptr<tcp_server_t> m_server;
};

TEST_F(TcpServerLimits, HoldsOnlyTheBytesThatArrivedWithinTheBudget) {
    tcp_server_options_t options;
    options.max_buffered = 1024 * 1024;
    start(options);
    // Twenty headers announcing 30 MiB each reserve nothing.
    std::vector<std::unique_ptr<client_t>> idle;
    for (int i = 0; i < 20; ++i) {
        idle.push_back(std::make_unique<client_t>(m_server->port()));
        ASSERT_TRUE(idle.back()->send_all(
            make_request(i, 0, "", std::string(30 << 20, 'i')).substr(0, 38)));
    }
    ASSERT_TRUE(eventually([&] { return m_server->open_connections() == 20; }));
    EXPECT_EQ(m_server->buffered_bytes(), 0u);
    // A body is held as it arrives, within the budget...
    const std::string a_body(800 * 1024, 'a');
    const std::string a_request = make_request(1, 0, "", a_body);
    client_t a(m_server->port());
    ASSERT_TRUE(a.send_all(a_request.substr(0, 38 + 600 * 1024)));
    ASSERT_TRUE(eventually([&] { return m_server->buffered_bytes() >= 600 * 1024; }));
    EXPECT_LE(m_server->buffered_bytes(), 800u * 1024);
    // ...and one that would go beyond it is read but answered busy.
    {
        client_t b(m_server->port());
        ASSERT_TRUE(b.send_all(make_request(2, 0, "", std::string(500 * 1024, 'b'))));
        EXPECT_THAT(b.receive_all(), ::testing::EndsWith("busy"));
    }
    ASSERT_TRUE(a.send_all(a_request.substr(38 + 600 * 1024)));
    EXPECT_THAT(a.receive_all(), ::testing::EndsWith("echo:" + a_body));
    client_t b(m_server->port());
    ASSERT_TRUE(b.send_all(make_request(3, 0, "", std::string(500 * 1024, 'b'))));
    EXPECT_THAT(b.receive_all(), HasSubstr("echo:bbb"));
    idle.clear();
    ASSERT_TRUE(eventually([&] { return m_server->open_connections() == 0; }));
    EXPECT_EQ(m_server->buffered_bytes(), 0u);
}

TEST_F(TcpServerLimits, TheHeaderHasItsOwnShortDeadline) {
    tcp_server_options_t options;
    options.header_timeout = 300ms;
    options.timeout = 60s;
    start(options);
    client_t slow(m_server->port());
    ASSERT_TRUE(slow.send_all(make_request(1, 0, "", "x").substr(0, 30)));
    // Closed by the header's deadline, long before the request's.
    EXPECT_EQ(slow.receive_all(), "");
    ASSERT_TRUE(eventually([&] { return m_server->finished_connections() == 1; }));
    EXPECT_THAT(log_text(), HasSubstr("result=dropped: time-out in=30 out=0"));
    // A request sent at once is served.
    client_t quick(m_server->port());
    ASSERT_TRUE(quick.send_all(make_request(2, 0, "", "fast")));
    EXPECT_THAT(quick.receive_all(), HasSubstr("echo:fast"));
}

TEST_F(TcpServerLimits, ConnectionsPerAddressAreLimited) {
    tcp_server_options_t options;
    options.max_per_address = 3;
    start(options);
    std::vector<std::unique_ptr<testing::client_t>> held;
    for (int i = 0; i < 3; ++i)
        held.push_back(std::make_unique<testing::client_t>(m_server->port(), 20, "127.0.0.3"));
    ASSERT_TRUE(eventually([&] { return m_server->open_connections() == 3; }));
    {
        testing::client_t fourth(m_server->port(), 20, "127.0.0.3");
        fourth.send_all(make_request(1, 0, "", "x"));
        EXPECT_EQ(fourth.receive_all(), "");
    }
    // Read the log once the server has written its line.
    ASSERT_TRUE(eventually([&] { return m_server->finished_connections() == 1; }));
    EXPECT_THAT(log_text(), HasSubstr("peer=127.0.0.3:"));
    EXPECT_THAT(log_text(), HasSubstr("result=dropped: too many connections from this address"));
    // Another address is served meanwhile; a slot freed is taken again.
    testing::client_t other(m_server->port(), 20, "127.0.0.2");
    ASSERT_TRUE(other.send_all(make_request(2, 0, "", "other")));
    EXPECT_THAT(other.receive_all(), HasSubstr("echo:other"));
    held.pop_back();
    ASSERT_TRUE(eventually([&] { return m_server->open_connections() == 2; }));
    testing::client_t again(m_server->port(), 20, "127.0.0.3");
    ASSERT_TRUE(again.send_all(make_request(3, 0, "", "again")));
    EXPECT_THAT(again.receive_all(), HasSubstr("echo:again"));
}

TEST_F(TcpServerLimits, HandlersRunOnABoundedPoolAndAThrowEndsOnlyItsConnection) {
    tcp_server_options_t options;
    options.workers = 1;
    options.queue = 0;
    start(options);
    auto ask = [&](std::uint64_t sequence, const std::string& body) {
        client_t client(m_server->port());
        client.send_all(make_request(sequence, 0, "", body));
        return client.receive_all();
    };
    std::string first;
    std::thread t1([&] { first = ask(1, "wait"); });
    m_handler.wait_for_waiting(1);
    // The only worker is busy and nothing may wait: answered at once.
    EXPECT_THAT(ask(2, "second"), ::testing::EndsWith("busy"));
    m_handler.open();
    t1.join();
    EXPECT_THAT(first, ::testing::EndsWith("echo:wait"));
    // The worker takes the next request once it is back from the last one.
    auto ask_until_taken = [&](std::uint64_t sequence, const std::string& body) {
        std::string reply = ask(sequence, body);
        for (int i = 0; i < 200 && reply.size() >= 4 && reply.substr(reply.size() - 4) == "busy";
             ++i) {
            std::this_thread::sleep_for(10ms);
            reply = ask(sequence, body);
        }
        return reply;
    };
    EXPECT_EQ(ask_until_taken(3, "throw"), "");
    EXPECT_THAT(ask_until_taken(4, "after"), ::testing::EndsWith("echo:after"));
    ASSERT_TRUE(eventually([&] { return m_server->finished_connections() >= 4; }));
    EXPECT_THAT(log_text(), HasSubstr("result=dropped: the handler failed"));
}

TEST_F(TcpServerLimits, ServesTlsAndClearTextOnOnePortAndReloadsTheCertificate) {
    const std::string dir = ::testing::TempDir() + "zv_tls_" + std::to_string(getpid());
    std::filesystem::create_directories(dir);
    const std::string cert = dir + "/cert.pem", key = dir + "/key.pem";
    const std::string old_cert = dir + "/old.pem", old_key = dir + "/old-key.pem";
    testing::make_test_certificate(cert, key);
    std::filesystem::copy_file(cert, old_cert);
    std::filesystem::copy_file(key, old_key);
    tcp_server_options_t options;
    options.tls_certificate = cert;
    options.tls_key = key;
    start(options);
    const request_envelope_t echo{9, 0, "", 0, 0};
    {
        testing::tls_client_t tls(m_server->port(), cert);
        ASSERT_TRUE(tls.connected()) << tls.error();
        ASSERT_TRUE(tls.send_all(make_request(9, 0, "", "secret")));
        bool clean = false;
        EXPECT_EQ(tls.receive_all(&clean), make_reply(echo, "echo:secret"));
        EXPECT_TRUE(clean) << "the reply ends with TLS's goodbye";
    }
    {
        client_t clear(m_server->port());
        ASSERT_TRUE(clear.send_all(make_request(9, 0, "", "plain")));
        EXPECT_EQ(clear.receive_all(), make_reply(echo, "echo:plain"));
    }
    // A client that trusts another certificate, or expects another name,
    // never gets as far as sending.
    testing::make_test_certificate(dir + "/stranger.pem", dir + "/stranger-key.pem");
    EXPECT_FALSE(testing::tls_client_t(m_server->port(), dir + "/stranger.pem").connected());
    EXPECT_FALSE(testing::tls_client_t(m_server->port(), cert, "example.org").connected());
    ASSERT_TRUE(eventually([&] { return m_server->finished_connections() == 4; }));
    EXPECT_THAT(log_text(),
                ::testing::ContainsRegex("result=OK in=[0-9]+ out=[0-9]+ ms=[0-9.]+ tls\n"));

    // A new certificate in the same files: new connections get it.
    testing::make_test_certificate(cert, key);
    std::string error;
    ASSERT_TRUE(m_server->reload_tls(error)) << error;
    EXPECT_FALSE(testing::tls_client_t(m_server->port(), old_cert).connected());
    EXPECT_TRUE(testing::tls_client_t(m_server->port(), cert).connected());
    // A broken pair is refused and the one in use kept.
    std::filesystem::copy_file(old_key, key, std::filesystem::copy_options::overwrite_existing);
    EXPECT_FALSE(m_server->reload_tls(error));
    EXPECT_THAT(error,
                HasSubstr("cannot use the TLS key " + key + " with the certificate " + cert));
    EXPECT_TRUE(testing::tls_client_t(m_server->port(), cert).connected());
    m_server->stop();

    // TLS required: clear text is closed on arrival.
    testing::make_test_certificate(cert, key);
    options.require_tls = true;
    start(options);
    client_t clear(m_server->port());
    ASSERT_TRUE(clear.send_all(make_request(9, 0, "", "plain")));
    EXPECT_EQ(clear.receive_all(), "");
    testing::tls_client_t tls(m_server->port(), cert);
    ASSERT_TRUE(tls.send_all(make_request(9, 0, "", "ok")));
    EXPECT_EQ(tls.receive_all(), make_reply(echo, "echo:ok"));
    ASSERT_TRUE(eventually([&] { return m_server->finished_connections() == 2; }));
    EXPECT_THAT(log_text(), HasSubstr("result=dropped: clear text (TLS required)"));
    std::filesystem::remove_all(dir);
}

TEST(TcpServer, StartFailuresNameTheAddress) {
    echo_handler_t handler;
    std::ostringstream text;
    request_log_t log(text);
    tcp_server_options_t options;
    options.address = "not-an-address";
    tcp_server_t bad(options, handler, log);
    std::string error;
    EXPECT_FALSE(bad.start(error));
    EXPECT_THAT(error, HasSubstr("cannot listen on not-an-address:8080"));

    options.address = "127.0.0.1";
    options.port = 0;
    tcp_server_t first(options, handler, log);
    ASSERT_TRUE(first.start(error)) << error;
    options.port = first.port();
    tcp_server_t second(options, handler, log);
    EXPECT_FALSE(second.start(error));
    EXPECT_THAT(error, HasSubstr("cannot listen on 127.0.0.1:" + std::to_string(first.port())));
    EXPECT_THAT(error, HasSubstr("in use"));
    first.stop();
    first.stop();
}

}  // namespace
}  // namespace Core_Server
