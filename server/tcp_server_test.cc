#include "tcp_server.h"

#include "server_process_testing.h"

#include <arpa/inet.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <mutex>
#include <random>
#include <sstream>
#include <thread>

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
        std::string bytes = i % 2 ? std::string(SESSION_PREAMBLE) : std::string();
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
