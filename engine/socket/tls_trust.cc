#include "socket/tls_trust.h"

#include <openssl/err.h>
#include <openssl/x509_vfy.h>
#include <openssl/x509v3.h>

#include <boost/asio/ip/address.hpp>
#include <boost/asio/ssl/error.hpp>
#include <climits>
#include <mutex>

#include "socket/async_connection.h"
#include "socket/tls_context.h"

namespace Core_Socket {

namespace asio = boost::asio;
using boost::system::error_code;

namespace {

// Handshake failures with a library reason are TLS_HANDSHAKE_FAILED minus
// the reason's packed code (OpenSSL 3 packs a library and a reason into 31
// bits).
constexpr int kReasonBase = TLS_HANDSHAKE_FAILED - 1;

class tls_category_t final : public boost::system::error_category {
public:
    const char* name() const noexcept override { return "tls"; }
    std::string message(int value) const override {
        if (value > 0) {
            std::string why;
            if (value == X509_V_ERR_HOSTNAME_MISMATCH) {
                why = "host name mismatch";
            } else if (value == X509_V_ERR_IP_ADDRESS_MISMATCH) {
                why = "IP address mismatch";
            } else {
                why = X509_verify_cert_error_string(value);
            }
            return "the server's certificate was not trusted: certificate verify failed: " + why;
        }
        switch (value) {
            case TLS_CA_FILE_UNUSABLE:
                return "the TLS CA file does not read or holds no certificate";
            case TLS_CLOSED_IN_HANDSHAKE:
                return "TLS handshake failed: the server closed the connection (does it speak "
                       "TLS on that port?)";
            case TLS_HANDSHAKE_FAILED:
                return "TLS handshake failed";
            default:
                break;
        }
        const char* reason =
            value < kReasonBase
                ? ERR_reason_error_string(static_cast<unsigned long>(kReasonBase - value))
                : nullptr;
        return std::string("TLS handshake failed") + (reason ? std::string(": ") + reason : "");
    }
};

std::mutex& trust_lock() {
    static auto* lock = new std::mutex;
    return *lock;
}
// Guarded by trust_lock.
std::string& ca_file_path() {
    static auto* path = new std::string;
    return *path;
}
std::shared_ptr<asio::ssl::context>& cached_context() {
    static auto* context = new std::shared_ptr<asio::ssl::context>;
    return *context;
}

std::shared_ptr<asio::ssl::context> make_context(const std::string& ca_file) {
    auto context = std::make_shared<asio::ssl::context>(asio::ssl::context::tls_client);
    SSL_CTX* native = context->native_handle();
    SSL_CTX_set_min_proto_version(native, TLS1_2_VERSION);
    SSL_CTX_set_options(native, SSL_OP_NO_COMPRESSION);
    SSL_CTX_set_verify(native, SSL_VERIFY_PEER, nullptr);
    if (ca_file.empty()) {
        if (SSL_CTX_set_default_verify_paths(native) != 1) {
            ERR_clear_error();
            return nullptr;
        }
        return context;
    }
    // The certificates of the file alone; any of them, CA or not, anchors a
    // chain (a pinned server certificate).
    if (SSL_CTX_load_verify_locations(native, ca_file.c_str(), nullptr) != 1) {
        ERR_clear_error();
        return nullptr;
    }
    X509_VERIFY_PARAM_set_flags(SSL_CTX_get0_param(native), X509_V_FLAG_PARTIAL_CHAIN);
    return context;
}

}  // namespace

const boost::system::error_category& tls_category() {
    static const tls_category_t instance;
    return instance;
}

bool is_tls_error(const error_code& ec) { return ec && ec.category() == tls_category(); }

void set_tls_ca_file(const std::string& path) {
    std::lock_guard<std::mutex> guard(trust_lock());
    if (ca_file_path() != path) cached_context().reset();
    ca_file_path() = path;
}

std::string tls_ca_file() {
    std::lock_guard<std::mutex> guard(trust_lock());
    return ca_file_path();
}

std::shared_ptr<asio::ssl::context> client_tls_context(error_code& ec) {
    std::lock_guard<std::mutex> guard(trust_lock());
    if (!cached_context()) cached_context() = make_context(ca_file_path());
    if (!cached_context()) ec = error_code(TLS_CA_FILE_UNUSABLE, tls_category());
    return cached_context();
}

bool prepare_tls_peer(SSL* ssl, const std::string& host) {
    error_code not_address;
    asio::ip::make_address(host, not_address);
    if (!not_address) {
        // An address is checked as an address, and is no server name.
        return X509_VERIFY_PARAM_set1_ip_asc(SSL_get0_param(ssl), host.c_str()) == 1;
    }
    return SSL_set_tlsext_host_name(ssl, host.c_str()) == 1 &&
           SSL_set1_host(ssl, host.c_str()) == 1;
}

error_code handshake_error(SSL* ssl, const error_code& ec) {
    const long verified = SSL_get_verify_result(ssl);
    if (verified != X509_V_OK) {
        return error_code(static_cast<int>(verified), tls_category());
    }
    if (ec == asio::ssl::error::stream_truncated || ec == asio::error::eof) {
        return error_code(TLS_CLOSED_IN_HANDSHAKE, tls_category());
    }
    if (ec.category() == asio::error::get_ssl_category()) {
        const unsigned long packed = static_cast<unsigned long>(ec.value());
        const unsigned long reason = ERR_PACK(ERR_GET_LIB(packed), 0, ERR_GET_REASON(packed));
        if (reason != 0 && reason < static_cast<unsigned long>(INT_MAX + kReasonBase)) {
            return error_code(kReasonBase - static_cast<int>(reason), tls_category());
        }
        return error_code(TLS_HANDSHAKE_FAILED, tls_category());
    }
    // A reset or a time-out is the network's failure, as without TLS.
    return to_socket_error(ec);
}

}  // namespace Core_Socket
