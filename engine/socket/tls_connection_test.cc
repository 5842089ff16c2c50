// Connections over TLS: the handshake is part of connecting, checks the
// server against the trust set, and nothing of the user's reaches a server
// that fails the check.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/ssl.h>
#include <openssl/x509v3.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <mutex>
#include <thread>

#include "platform/socket_errors.h"
#include "platform/temp_dir_testing.h"
#include "socket/scripted_peer_testing.h"
#include "socket/socket_settings.h"
#include "socket/socket_testing.h"
#include "socket/tls_trust.h"

namespace Core_Socket {
namespace {

using namespace std::chrono_literals;
using testing::recording_user;
using testing::started_socket_module;

// A self-signed certificate for `name` (DNS) and 127.0.0.1, and its key, as
// PEM files under `dir`.
void make_certificate(const std::string& dir, const std::string& name) {
    std::unique_ptr<EVP_PKEY, decltype(&EVP_PKEY_free)> key(
        EVP_PKEY_Q_keygen(nullptr, nullptr, "EC", "P-256"), &EVP_PKEY_free);
    std::unique_ptr<X509, decltype(&X509_free)> cert(X509_new(), &X509_free);
    ASSERT_TRUE(key && cert);
    X509_set_version(cert.get(), 2);
    X509_gmtime_adj(X509_getm_notBefore(cert.get()), -3600);
    X509_gmtime_adj(X509_getm_notAfter(cert.get()), 3600);
    X509_set_pubkey(cert.get(), key.get());
    X509_NAME* subject = X509_get_subject_name(cert.get());
    X509_NAME_add_entry_by_txt(subject, "CN", MBSTRING_ASC,
                               reinterpret_cast<const unsigned char*>(name.c_str()), -1, -1, 0);
    X509_set_issuer_name(cert.get(), subject);
    X509V3_CTX ctx;
    X509V3_set_ctx_nodb(&ctx);
    X509V3_set_ctx(&ctx, cert.get(), cert.get(), nullptr, nullptr, 0);
    X509_EXTENSION* san = X509V3_EXT_conf_nid(nullptr, &ctx, NID_subject_alt_name,
                                              ("DNS:" + name + ",IP:127.0.0.1").c_str());
    ASSERT_NE(san, nullptr);
    X509_add_ext(cert.get(), san, -1);
    X509_EXTENSION_free(san);
    ASSERT_NE(X509_sign(cert.get(), key.get(), EVP_sha256()), 0);
    FILE* out = std::fopen((dir + "/" + name + ".pem").c_str(), "w");
    ASSERT_NE(out, nullptr);
    PEM_write_X509(out, cert.get());
    std::fclose(out);
    out = std::fopen((dir + "/" + name + ".key").c_str(), "w");
    ASSERT_NE(out, nullptr);
    PEM_write_PrivateKey(out, key.get(), nullptr, nullptr, 0, nullptr, nullptr);
    std::fclose(out);
}

// One TLS connection served on a thread: it reads what the client sends
// (as application data, after a handshake) until `expect` bytes or the
// end, answers `reply`, and says goodbye.
class tls_peer_t {
public:
    tls_peer_t(const std::string& dir, const std::string& name, std::size_t expect,
               std::string reply) {
        m_ctx = SSL_CTX_new(TLS_server_method());
        SSL_CTX_use_certificate_file(m_ctx, (dir + "/" + name + ".pem").c_str(), SSL_FILETYPE_PEM);
        SSL_CTX_use_PrivateKey_file(m_ctx, (dir + "/" + name + ".key").c_str(), SSL_FILETYPE_PEM);
        m_listener = socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in addr{};
        addr.sin_family = AF_INET;
        addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof addr;
        bind(m_listener, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
        listen(m_listener, 4);
        getsockname(m_listener, reinterpret_cast<sockaddr*>(&addr), &length);
        m_port = ntohs(addr.sin_port);
        m_thread = std::thread([this, expect, reply] { serve(expect, reply); });
    }
    ~tls_peer_t() {
        wait();
        close(m_listener);
        SSL_CTX_free(m_ctx);
    }
    std::uint16_t port() const { return m_port; }
    // Waits until the connection is served.
    void wait() {
        if (m_thread.joinable()) m_thread.join();
    }
    bool handshake_done() const { return m_handshake_done; }
    std::string received() {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_received;
    }

private:
    void serve(std::size_t expect, const std::string& reply) {
        pollfd p{m_listener, POLLIN, 0};
        if (poll(&p, 1, 20000) != 1) return;
        const int fd = accept(m_listener, nullptr, nullptr);
        timeval tv{10, 0};
        setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
        SSL* ssl = SSL_new(m_ctx);
        SSL_set_fd(ssl, fd);
        if (SSL_accept(ssl) == 1) {
            m_handshake_done = true;
            char buffer[4096];
            for (;;) {
                {
                    std::lock_guard<std::mutex> lock(m_mutex);
                    if (m_received.size() >= expect) break;
                }
                const int n = SSL_read(ssl, buffer, sizeof buffer);
                if (n <= 0) break;
                std::lock_guard<std::mutex> lock(m_mutex);
                m_received.append(buffer, static_cast<std::size_t>(n));
            }
            SSL_write(ssl, reply.data(), static_cast<int>(reply.size()));
            SSL_shutdown(ssl);
        }
        ERR_clear_error();
        SSL_free(ssl);
        close(fd);
    }

    SSL_CTX* m_ctx = nullptr;
    int m_listener = -1;
    std::uint16_t m_port = 0;
    std::atomic<bool> m_handshake_done{false};
    std::mutex m_mutex;
    std::string m_received;
    std::thread m_thread;
};

class TlsConnection : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_NO_FATAL_FAILURE(make_certificate(m_dir, "localhost"));
        ASSERT_NO_FATAL_FAILURE(make_certificate(m_dir, "other.example"));
    }
    void TearDown() override { set_tls_ca_file(""); }
    void connect(recording_user& user, const std::string& host, std::uint16_t port) {
        void* conn = nullptr;
        InterfaceSocket::tcp_connect(&user, conn, host, port, true);
        user.read([&] { return user.m_conn = conn; });
    }
    Core_Platform::testing::temp_dir_t m_tmp{"zvtls"};
    std::string m_dir = m_tmp.path().string();
};

// Trusted (the server's own certificate pinned), by name and by address:
// the user's bytes go through TLS unchanged, both ways, and the connection
// is reported established only after the handshake.
TEST_F(TlsConnection, APinnedServerGetsTheBytesUnchangedByNameAndByAddress) {
    set_tls_ca_file(m_dir + "/localhost.pem");
    for (const char* host : {"localhost", "127.0.0.1"}) {
        SCOPED_TRACE(host);
        recording_user user;
        started_socket_module socket(&user);
        std::string request(100000, '\0');
        for (std::size_t i = 0; i < request.size(); ++i) request[i] = static_cast<char>(i * 7);
        tls_peer_t peer(m_dir, "localhost", request.size(), "world!");
        user.queue_send(request);
        connect(user, host, peer.port());
        ASSERT_TRUE(user.wait_until([&] { return user.m_connected == 1; }));
        InterfaceSocket::tcp_send(&user, user.read([&] { return user.m_conn; }));
        ASSERT_TRUE(user.wait_until([&] { return user.m_closed == 1; }, 20s));
        peer.wait();
        EXPECT_TRUE(peer.handshake_done());
        EXPECT_EQ(peer.received(), request);
        user.read([&] {
            EXPECT_EQ(user.m_received, "world!");
            EXPECT_EQ(user.m_foreign_reports, 0);
            return 0;
        });
    }
}

// Untrusted or misnamed: the connection closes with the reason, is never
// reported established, and the peer receives no application byte.
TEST_F(TlsConnection, AServerThatFailsTheCheckGetsNothing) {
    struct case_t {
        const char* ca;
        const char* served;
        const char* host;
        int error;
    };
    const case_t cases[] = {
        {"localhost", "other.example", "127.0.0.1", X509_V_ERR_DEPTH_ZERO_SELF_SIGNED_CERT},
        {"other.example", "other.example", "localhost", X509_V_ERR_HOSTNAME_MISMATCH},
        {"missing", "localhost", "localhost", TLS_CA_FILE_UNUSABLE},
    };
    for (const case_t& c : cases) {
        SCOPED_TRACE(c.host);
        set_tls_ca_file(m_dir + "/" + c.ca + ".pem");
        recording_user user;
        started_socket_module socket(&user);
        auto peer = std::make_unique<tls_peer_t>(m_dir, c.served, 1, "");
        user.queue_send("PASSWORD");
        connect(user, c.host, peer->port());
        ASSERT_TRUE(user.wait_until([&] { return user.m_closed == 1; }, 20s));
        user.read([&] {
            EXPECT_EQ(user.m_connected, 0);
            EXPECT_TRUE(is_tls_error(user.m_close_error)) << user.m_close_error.message();
            EXPECT_EQ(user.m_close_error.value(), c.error) << user.m_close_error.message();
            return 0;
        });
        if (c.error == TLS_CA_FILE_UNUSABLE) {
            // Nothing connected at all: end the peer's wait with a plain
            // connection that closes at once.
            const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
            sockaddr_in addr{};
            addr.sin_family = AF_INET;
            addr.sin_port = htons(peer->port());
            addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
            EXPECT_EQ(::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
            close(fd);
        }
        peer->wait();
        EXPECT_FALSE(peer->handshake_done());
        EXPECT_EQ(peer->received(), "");
    }
}

// A server that accepts and never answers the handshake ends at the connect
// deadline, like one that never accepts.
TEST_F(TlsConnection, TheHandshakeIsBoundByTheConnectDeadline) {
    const std::int32_t saved = tcp_connect_timeout_seconds.load();
    tcp_connect_timeout_seconds.store(1);
    recording_user user;
    started_socket_module socket(&user, 30);
    testing::ScriptedPeer peer([](testing::PeerConnection& c) { c.wait_closed(20s); });
    connect(user, "127.0.0.1", peer.port());
    tcp_connect_timeout_seconds.store(saved);
    ASSERT_TRUE(user.wait_until([&] { return user.m_closed == 1; }, 20s));
    user.read([&] {
        EXPECT_EQ(user.m_connected, 0);
        EXPECT_EQ(user.m_close_error.value(), Core_Platform::SOCKET_ERROR_TIMED_OUT);
        return 0;
    });
}

}  // namespace
}  // namespace Core_Socket
