#include "common/fingerprint.h"

#include <openssl/evp.h>
#include <openssl/rand.h>

#include <algorithm>
#include <climits>
#include <stdexcept>

namespace Core_Common {
namespace {

[[noreturn]] void library_failed() {
    throw std::runtime_error("fingerprint: the cryptographic library failed");
}

// Every fingerprint under one key uses the same nonce: nothing is ever
// enciphered, and the tag of additional data alone is GHASH of the data
// and its length under the key's hash key, masked by the key's cipher
// block of the nonce.
constexpr unsigned char kNonce[12] = {};

}  // namespace

struct fingerprint_t::state_t {
    EVP_CIPHER_CTX* ctx = EVP_CIPHER_CTX_new();
    ~state_t() { EVP_CIPHER_CTX_free(ctx); }
};

fingerprint_t::fingerprint_t(const key_t& key) : m_state(std::make_unique<state_t>()) {
    if (m_state->ctx == nullptr ||
        EVP_EncryptInit_ex(m_state->ctx, EVP_aes_128_gcm(), nullptr, key.data(), kNonce) != 1) {
        library_failed();
    }
}

fingerprint_t::~fingerprint_t() = default;

void fingerprint_t::add(const void* data, std::size_t length) {
    const auto* bytes = static_cast<const unsigned char*>(data);
    // The library takes an int's worth at a time; it joins pieces of any
    // size into one string.
    while (length != 0) {
        const int n = static_cast<int>(std::min<std::size_t>(length, INT_MAX / 2));
        int unused = 0;
        if (EVP_EncryptUpdate(m_state->ctx, nullptr, &unused, bytes, n) != 1) library_failed();
        bytes += n;
        length -= static_cast<std::size_t>(n);
    }
}

fingerprint_t::value_t fingerprint_t::finish() {
    value_t out{};
    unsigned char none[16];
    int unused = 0;
    if (EVP_EncryptFinal_ex(m_state->ctx, none, &unused) != 1 ||
        EVP_CIPHER_CTX_ctrl(m_state->ctx, EVP_CTRL_GCM_GET_TAG, static_cast<int>(out.size()),
                            out.data()) != 1 ||
        EVP_EncryptInit_ex(m_state->ctx, nullptr, nullptr, nullptr, kNonce) != 1) {
        library_failed();
    }
    return out;
}

fingerprint_t::value_t fingerprint_t::of(const key_t& key, const void* data, std::size_t length) {
    fingerprint_t f(key);
    f.add(data, length);
    return f.finish();
}

fingerprint_t::key_t fingerprint_t::random_key() {
    key_t key{};
    if (RAND_bytes(key.data(), static_cast<int>(key.size())) != 1) {
        throw std::runtime_error("fingerprint: the system's random source failed");
    }
    return key;
}

const fingerprint_t::key_t& fingerprint_t::process_key() {
    static const key_t key = random_key();
    return key;
}

}  // namespace Core_Common
