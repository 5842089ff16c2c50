// The zorvane program over TLS: a sync end to end through a real
// zorvane-server that requires TLS, and a server in the middle whose
// certificate does not check out, which must learn nothing.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <openssl/err.h>
#include <openssl/ssl.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <filesystem>
#include <mutex>
#include <string>
#include <thread>

#include "host_testing.h"
#include "tls_testing.h"

namespace Zorvane_Cli {
namespace {

using Core_Server::testing::backend_enum;
using Core_Server::testing::make_test_certificate;
using Core_Server::testing::scratch_store_t;
using testing::bookmarks;
using testing::bookmarks_by_url;
using testing::directory_bytes;
using testing::host_rig_t;
using testing::parse_lines;
using testing::tree_of;

constexpr const char* kConnectFailed = "zorvane.kernel.status.connect_failed";

// A TLS server on a loopback port with a certificate of its own, in front of
// nothing: it accepts every connection, tries the handshake, and keeps what
// it hears. It stands for whoever sits between a client and its server.
class listening_impostor_t {
public:
    listening_impostor_t(const std::string& certificate, const std::string& key) {
        m_ctx = SSL_CTX_new(TLS_server_method());
        if (SSL_CTX_use_certificate_file(m_ctx, certificate.c_str(), SSL_FILETYPE_PEM) != 1 ||
            SSL_CTX_use_PrivateKey_file(m_ctx, key.c_str(), SSL_FILETYPE_PEM) != 1) {
            throw std::runtime_error("the impostor's certificate does not load");
        }
        m_listener = socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in addr{};
        addr.sin_family = AF_INET;
        addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof addr;
        if (bind(m_listener, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 ||
            listen(m_listener, 8) != 0 ||
            getsockname(m_listener, reinterpret_cast<sockaddr*>(&addr), &length) != 0) {
            throw std::runtime_error("the impostor cannot listen");
        }
        m_port = ntohs(addr.sin_port);
        m_thread = std::thread([this] { serve(); });
    }
    ~listening_impostor_t() {
        m_stop = true;
        m_thread.join();
        close(m_listener);
        SSL_CTX_free(m_ctx);
    }

    std::uint16_t port() const { return m_port; }
    int connections() const { return m_connections; }
    int handshakes() const { return m_handshakes; }
    // Every byte received as application data (after a handshake).
    std::string application_bytes() {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_application;
    }

private:
    void serve() {
        while (!m_stop) {
            pollfd p{m_listener, POLLIN, 0};
            if (poll(&p, 1, 50) <= 0) continue;
            const int fd = accept(m_listener, nullptr, nullptr);
            if (fd < 0) continue;
            ++m_connections;
            timeval tv{10, 0};
            setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
            SSL* ssl = SSL_new(m_ctx);
            SSL_set_fd(ssl, fd);
            if (SSL_accept(ssl) == 1) {
                ++m_handshakes;
                char buffer[4096];
                int n = 0;
                while ((n = SSL_read(ssl, buffer, sizeof buffer)) > 0) {
                    std::lock_guard<std::mutex> lock(m_mutex);
                    m_application.append(buffer, static_cast<std::size_t>(n));
                }
            }
            ERR_clear_error();
            SSL_free(ssl);
            close(fd);
        }
    }

    SSL_CTX* m_ctx = nullptr;
    int m_listener = -1;
    std::uint16_t m_port = 0;
    std::atomic<bool> m_stop{false};
    std::atomic<int> m_connections{0};
    std::atomic<int> m_handshakes{0};
    std::mutex m_mutex;
    std::string m_application;
    std::thread m_thread;
};

// Success when `dir` holds no record and no note: at most the computer's
// identifier, which every request needs before it goes out.
::testing::AssertionResult no_record(const std::string& dir) {
    auto files = directory_bytes(dir);
    files.erase("zorvane_peer_id.dat");
    if (files.empty()) return ::testing::AssertionSuccess();
    auto failure = ::testing::AssertionFailure() << dir << " holds";
    for (const auto& [name, bytes] : files) failure << " " << name;
    return failure;
}

class SyncOverTls : public ::testing::Test {
protected:
    void SetUp() override {
        ZV_REQUIRE_STORE(m_scratch);
        make_test_certificate(m_rig.path("server.pem"), m_rig.path("server.key"), "localhost");
        // The server answers TLS only: a sync that works went through TLS.
        ASSERT_NO_FATAL_FAILURE(
            m_rig.start(m_scratch.url(), {"--tls-cert", m_rig.path("server.pem"), "--tls-key",
                                          m_rig.path("server.key"), "--require-tls"}));
    }

    std::string server(const std::string& host) {
        return "tls://" + host + ":" + std::to_string(m_rig.server().port());
    }

    scratch_store_t m_scratch{backend_enum::SQLITE};
    host_rig_t m_rig;
};

// Two computers sync through TLS, by name and by address; the same server
// refuses clear text, and a client that trusts the system store alone does
// not trust a certificate it has never seen.
TEST_F(SyncOverTls, TwoComputersSyncThroughTlsAndTrustOnlyWhatTheyAreTold) {
    const auto desktop_list = bookmarks(30, "d");
    const std::string ca = m_rig.path("server.pem");

    m_rig.route_through(server("localhost"));
    auto r = m_rig.zorvane("desktop", {"--tls-ca", ca, "sync", "--tree",
                                       m_rig.write_tree_file("d.xml", tree_of(desktop_list))});
    ASSERT_EQ(r.status, 0) << r.out << r.err;
    EXPECT_EQ(parse_lines(r.out)["result"], "OK");

    m_rig.route_through(server("127.0.0.1"));
    r = m_rig.zorvane("laptop", {"--tls-ca", ca, "update"});
    ASSERT_EQ(r.status, 0) << r.out << r.err;
    EXPECT_EQ(parse_lines(r.out)["result"], "OK");
    EXPECT_EQ(bookmarks_by_url(m_rig.exported("laptop")), bookmarks_by_url(desktop_list));
    EXPECT_TRUE(m_rig.server().wait_for_log(" tls", std::chrono::seconds(30)));

    // Clear text to the same port: the server drops it; nothing is stored.
    m_rig.route_through("127.0.0.1:" + std::to_string(m_rig.server().port()));
    r = m_rig.zorvane("clear", {"update"});
    EXPECT_EQ(r.status, 1) << r.out << r.err;
    EXPECT_EQ(parse_lines(r.out)["result"], kConnectFailed);

    // The system's store does not hold the test's certificate.
    m_rig.route_through(server("localhost"));
    r = m_rig.zorvane("system-store", {"update"});
    EXPECT_EQ(r.status, 1) << r.out << r.err;
    EXPECT_NE(r.err.find("the server's certificate was not trusted: certificate verify failed: "
                         "self-signed certificate"),
              std::string::npos)
        << r.err;
    EXPECT_TRUE(no_record(m_rig.data_dir("system-store")));

    // --tls-ca means nothing without TLS, and a file that does not read is
    // no trust at all.
    m_rig.route_through("127.0.0.1:" + std::to_string(m_rig.server().port()));
    r = m_rig.zorvane("clear", {"--tls-ca", ca, "update"});
    EXPECT_EQ(r.status, 2) << r.err;
    m_rig.route_through(server("localhost"));
    r = m_rig.zorvane("clear", {"--tls-ca", m_rig.path("missing.pem"), "update"});
    EXPECT_EQ(r.status, 2) << r.err;
}

// Whoever answers in the server's place with a certificate the client does
// not trust, or with a trusted one for another name, gets a handshake that
// fails before any application byte: no user name, no password, no tree.
// The client says why and writes nothing.
TEST_F(SyncOverTls, AServerInTheMiddleGetsNoPassword) {
    make_test_certificate(m_rig.path("impostor.pem"), m_rig.path("impostor.key"), "localhost");
    make_test_certificate(m_rig.path("other.pem"), m_rig.path("other.key"), "other.example");
    struct case_t {
        const char* what;
        std::string certificate, key, ca, host, reason;
    };
    const case_t cases[] = {
        {"a self-signed certificate outside the CA file", m_rig.path("impostor.pem"),
         m_rig.path("impostor.key"), m_rig.path("server.pem"), "localhost",
         "certificate verify failed: self-signed certificate"},
        {"a trusted certificate for another host name", m_rig.path("other.pem"),
         m_rig.path("other.key"), m_rig.path("other.pem"), "localhost",
         "certificate verify failed: host name mismatch"},
    };
    for (const case_t& c : cases) {
        SCOPED_TRACE(c.what);
        listening_impostor_t impostor(c.certificate, c.key);
        m_rig.route_through("tls://" + c.host + ":" + std::to_string(impostor.port()));
        const std::string data = std::string("victim-") + c.host + std::to_string(impostor.port());
        const auto r =
            m_rig.zorvane(data, {"--tls-ca", c.ca, "sync", "--tree",
                                 m_rig.write_tree_file("v.xml", tree_of(bookmarks(5, "v")))});
        EXPECT_EQ(r.status, 1) << r.out << r.err;
        EXPECT_EQ(parse_lines(r.out)["result"], kConnectFailed);
        EXPECT_NE(r.err.find("the server's certificate was not trusted: " + c.reason),
                  std::string::npos)
            << r.err;
        EXPECT_GE(impostor.connections(), 1);
        EXPECT_EQ(impostor.handshakes(), 0);
        EXPECT_EQ(impostor.application_bytes(), "");
        EXPECT_TRUE(no_record(m_rig.data_dir(data)));
    }
}

}  // namespace
}  // namespace Zorvane_Cli
