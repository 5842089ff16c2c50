#include "verification_cache.h"

#include <openssl/crypto.h>
#include <openssl/evp.h>
#include <openssl/hmac.h>
#include <openssl/rand.h>

#include <cstdint>
#include <stdexcept>

namespace Core_Server {
namespace {

void append_field(std::string& out, std::string_view field) {
    const auto n = static_cast<std::uint64_t>(field.size());
    for (int shift = 56; shift >= 0; shift -= 8) out.push_back(static_cast<char>(n >> shift));
    out.append(field);
}

}  // namespace

verification_cache_t::verification_cache_t(std::chrono::milliseconds lifetime, std::size_t capacity)
    : m_lifetime(lifetime), m_capacity(capacity), m_secret(32, '\0') {
    if (RAND_bytes(reinterpret_cast<unsigned char*>(m_secret.data()),
                   static_cast<int>(m_secret.size())) != 1) {
        throw std::runtime_error("verification cache: cannot draw a random secret");
    }
}

verification_cache_t::~verification_cache_t() { OPENSSL_cleanse(m_secret.data(), m_secret.size()); }

std::string verification_cache_t::key(std::string_view name, std::string_view password,
                                      std::string_view record) const {
    // Length-prefixed fields, so no two different triples give the same
    // message.
    std::string message;
    message.reserve(24 + name.size() + password.size() + record.size());
    append_field(message, name);
    append_field(message, password);
    append_field(message, record);
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    HMAC(EVP_sha256(), m_secret.data(), static_cast<int>(m_secret.size()),
         reinterpret_cast<const unsigned char*>(message.data()), message.size(), digest, &length);
    OPENSSL_cleanse(message.data(), message.size());
    return std::string(reinterpret_cast<const char*>(digest), length);
}

bool verification_cache_t::contains(std::string_view name, std::string_view password,
                                    std::string_view record, clock_t::time_point now) {
    const std::string k = key(name, password, record);
    std::lock_guard<std::mutex> lock(m_mutex);
    const auto it = m_expiry.find(k);
    if (it == m_expiry.end()) return false;
    if (now < it->second) return true;
    m_expiry.erase(it);
    return false;
}

void verification_cache_t::remember(std::string_view name, std::string_view password,
                                    std::string_view record, clock_t::time_point now) {
    if (m_capacity == 0) return;
    const std::string k = key(name, password, record);
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_expiry.size() >= m_capacity && m_expiry.find(k) == m_expiry.end()) {
        std::erase_if(m_expiry, [now](const auto& entry) { return entry.second <= now; });
        if (m_expiry.size() >= m_capacity) m_expiry.clear();
    }
    m_expiry[k] = now + m_lifetime;
}

std::size_t verification_cache_t::size() {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_expiry.size();
}

}  // namespace Core_Server
