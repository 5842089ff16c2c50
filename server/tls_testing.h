// Test support (test programs and benchmarks only): a certificate made on
// the spot with OpenSSL, and a blocking TLS client of a loopback port.
#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/ssl.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <memory>
#include <stdexcept>
#include <string>

namespace Core_Server::testing {

// Writes a self-signed certificate for `host` (and 127.0.0.1), valid from an
// hour ago for a day, to `certificate_path`, and its P-256 key to `key_path`
// (mode 0600). Throws on failure.
inline void make_test_certificate(const std::string& certificate_path, const std::string& key_path,
                                  const std::string& host = "localhost") {
    std::unique_ptr<EVP_PKEY, decltype(&EVP_PKEY_free)> key(
        EVP_PKEY_Q_keygen(nullptr, nullptr, "EC", "P-256"), &EVP_PKEY_free);
    std::unique_ptr<X509, decltype(&X509_free)> cert(X509_new(), &X509_free);
    if (!key || !cert) throw std::runtime_error("cannot make a key and a certificate");
    X509_set_version(cert.get(), 2);
    ASN1_INTEGER_set(X509_get_serialNumber(cert.get()), static_cast<long>(::getpid()));
    X509_gmtime_adj(X509_getm_notBefore(cert.get()), -3600);
    X509_gmtime_adj(X509_getm_notAfter(cert.get()), 24 * 3600);
    X509_set_pubkey(cert.get(), key.get());
    X509_NAME* name = X509_get_subject_name(cert.get());
    X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_ASC,
                               reinterpret_cast<const unsigned char*>(host.c_str()), -1, -1, 0);
    X509_set_issuer_name(cert.get(), name);
    X509V3_CTX ctx;
    X509V3_set_ctx_nodb(&ctx);
    X509V3_set_ctx(&ctx, cert.get(), cert.get(), nullptr, nullptr, 0);
    const std::string names = "DNS:" + host + ",IP:127.0.0.1";
    X509_EXTENSION* san = X509V3_EXT_conf_nid(nullptr, &ctx, NID_subject_alt_name, names.c_str());
    if (!san) throw std::runtime_error("cannot name the certificate's host");
    X509_add_ext(cert.get(), san, -1);
    X509_EXTENSION_free(san);
    if (X509_sign(cert.get(), key.get(), EVP_sha256()) == 0)
        throw std::runtime_error("cannot sign the certificate");
    FILE* out = std::fopen(certificate_path.c_str(), "w");
    if (!out || PEM_write_X509(out, cert.get()) != 1) throw std::runtime_error("write certificate");
    std::fclose(out);
    out = std::fopen(key_path.c_str(), "w");
    if (!out || PEM_write_PrivateKey(out, key.get(), nullptr, nullptr, 0, nullptr, nullptr) != 1)
        throw std::runtime_error("write key");
    std::fclose(out);
    ::chmod(key_path.c_str(), 0600);
}

// A blocking TLS client of 127.0.0.1:port that trusts only `ca_file` (or
// nothing, when empty: the handshake then fails on any certificate) and
// checks the certificate's name against `host`. A receive gives up after
// `receive_timeout_seconds` of silence. A client may offer the session of an
// earlier one (resumption).
class tls_client_t {
public:
    tls_client_t(std::uint16_t port, const std::string& ca_file,
                 const std::string& host = "localhost", int receive_timeout_seconds = 20,
                 SSL_SESSION* resume = nullptr) {
        m_ctx = SSL_CTX_new(TLS_client_method());
        SSL_CTX_set_min_proto_version(m_ctx, TLS1_2_VERSION);
        SSL_CTX_set_verify(m_ctx, SSL_VERIFY_PEER, nullptr);
        if (!ca_file.empty()) SSL_CTX_load_verify_locations(m_ctx, ca_file.c_str(), nullptr);
        m_fd = socket(AF_INET, SOCK_STREAM, 0);
        timeval tv{receive_timeout_seconds, 0};
        setsockopt(m_fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
        sockaddr_in addr{};
        addr.sin_family = AF_INET;
        addr.sin_port = htons(port);
        addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        if (connect(m_fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) return;
        m_ssl = SSL_new(m_ctx);
        SSL_set_fd(m_ssl, m_fd);
        SSL_set_tlsext_host_name(m_ssl, host.c_str());
        SSL_set1_host(m_ssl, host.c_str());
        if (resume) SSL_set_session(m_ssl, resume);
        m_handshake_done = SSL_connect(m_ssl) == 1;
        if (!m_handshake_done) {
            m_error = X509_verify_cert_error_string(SSL_get_verify_result(m_ssl));
            ERR_clear_error();
        }
    }
    tls_client_t(const tls_client_t&) = delete;
    tls_client_t& operator=(const tls_client_t&) = delete;
    ~tls_client_t() {
        if (m_ssl) SSL_free(m_ssl);
        if (m_fd >= 0) close(m_fd);
        SSL_CTX_free(m_ctx);
    }

    // True once the handshake succeeded with a certificate that checks out.
    bool connected() const { return m_handshake_done; }
    // Why the handshake failed (the certificate check's reason).
    const std::string& error() const { return m_error; }
    bool resumed() const { return m_ssl && SSL_session_reused(m_ssl) == 1; }
    // The session to offer a later client; owned by the caller (SSL_SESSION_free).
    SSL_SESSION* session() const { return m_ssl ? SSL_get1_session(m_ssl) : nullptr; }

    bool send_all(const std::string& bytes) {
        if (!m_handshake_done) return false;
        std::size_t sent = 0;
        while (sent < bytes.size()) {
            const int n =
                SSL_write(m_ssl, bytes.data() + sent, static_cast<int>(bytes.size() - sent));
            if (n <= 0) return false;
            sent += static_cast<std::size_t>(n);
        }
        return true;
    }
    // Everything until the server closes; `clean` tells whether it closed
    // with TLS's own goodbye (so nothing was cut off).
    std::string receive_all(bool* clean = nullptr) {
        std::string out;
        if (clean) *clean = false;
        if (!m_handshake_done) return out;
        char buffer[16384];
        for (;;) {
            const int n = SSL_read(m_ssl, buffer, sizeof buffer);
            if (n > 0) {
                out.append(buffer, static_cast<std::size_t>(n));
                continue;
            }
            if (clean) *clean = SSL_get_error(m_ssl, n) == SSL_ERROR_ZERO_RETURN;
            if (SSL_get_error(m_ssl, n) == SSL_ERROR_ZERO_RETURN) SSL_shutdown(m_ssl);
            break;
        }
        ERR_clear_error();
        return out;
    }

private:
    SSL_CTX* m_ctx = nullptr;
    SSL* m_ssl = nullptr;
    int m_fd = -1;
    bool m_handshake_done = false;
    std::string m_error;
};

}  // namespace Core_Server::testing
