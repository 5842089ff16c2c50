#include "common/crypto_service.h"

#include <openssl/crypto.h>
#include <openssl/evp.h>

#include <atomic>
#include <memory>
#include <stdexcept>

#include "common/base64.h"
#include "common/crypto.h"

namespace Core_Common {
namespace {

std::atomic<crypto_service_t*> g_service{nullptr};

}  // namespace

crypto_service_t::crypto_service_t() {
    if (OPENSSL_init_crypto(OPENSSL_INIT_ADD_ALL_CIPHERS | OPENSSL_INIT_ADD_ALL_DIGESTS, nullptr) !=
        1) {
        throw std::runtime_error("crypto: the cryptographic library did not initialise");
    }
    unsigned char probe[16];
    random_bytes(probe, sizeof probe);
    // Round-trip one block, so the cipher, the digests and both Base64 tables
    // are in place before any thread needs them.
    std::string block(reinterpret_cast<const char*>(probe), sizeof probe);
    std::string sealed = block;
    if (!encrypt("probe", sealed) || !decrypt("probe", sealed) || sealed != block ||
        base64_decode(base64_encode(block)) != block) {
        throw std::runtime_error("crypto: self-test failed");
    }
    OPENSSL_cleanse(probe, sizeof probe);
}

void crypto_service_create() {
    auto fresh = std::make_unique<crypto_service_t>();
    delete g_service.exchange(fresh.release(), std::memory_order_acq_rel);
}

void crypto_service_destroy() { delete g_service.exchange(nullptr, std::memory_order_acq_rel); }

crypto_service_t* crypto_service() { return g_service.load(std::memory_order_acquire); }

}  // namespace Core_Common
