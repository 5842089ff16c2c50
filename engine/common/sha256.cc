#include "common/sha256.h"

#include <openssl/evp.h>

#include <stdexcept>

namespace Core_Common {

struct sha256_t::state_t {
    EVP_MD_CTX* ctx = EVP_MD_CTX_new();
    ~state_t() { EVP_MD_CTX_free(ctx); }
    void start() {
        if (ctx == nullptr || EVP_DigestInit_ex(ctx, EVP_sha256(), nullptr) != 1) {
            throw std::runtime_error("sha256: the cryptographic library failed");
        }
    }
};

sha256_t::sha256_t() : m_state(std::make_unique<state_t>()) { m_state->start(); }

sha256_t::~sha256_t() = default;

void sha256_t::add(const void* data, std::size_t length) {
    if (length != 0 && EVP_DigestUpdate(m_state->ctx, data, length) != 1) {
        throw std::runtime_error("sha256: the cryptographic library failed");
    }
}

sha256_t::value_t sha256_t::finish() {
    value_t out{};
    unsigned int n = 0;
    if (EVP_DigestFinal_ex(m_state->ctx, out.data(), &n) != 1 || n != out.size()) {
        throw std::runtime_error("sha256: the cryptographic library failed");
    }
    m_state->start();
    return out;
}

sha256_t::value_t sha256_t::of(const void* data, std::size_t length) {
    sha256_t d;
    d.add(data, length);
    return d.finish();
}

}  // namespace Core_Common
