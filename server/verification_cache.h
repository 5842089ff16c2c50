// Internal to the server: a short-lived memory of successful password checks.
//
// Clients send the password with every request, and a deliberate slow hash
// (password_hash.h) on every sync would cost tens of milliseconds each. After
// a successful check the server remembers the triple (user name, password,
// stored record) for a short while, as an HMAC-SHA256 under a secret drawn at
// random when the cache is made: the cache holds no password, and its keys
// are worthless outside this process. The stored record is part of the key,
// so changing or removing an account's password invalidates what was
// remembered for it.
//
// Bounded: at most `capacity` entries; when full, expired entries are
// dropped, and if that is not enough everything is forgotten (a miss only
// costs one slow check). Thread-safe.
#pragma once

#include <chrono>
#include <cstddef>
#include <mutex>
#include <string>
#include <string_view>
#include <unordered_map>

namespace Core_Server {

class verification_cache_t {
public:
    using clock_t = std::chrono::steady_clock;

    // Fails loudly (std::runtime_error) when no random secret can be drawn:
    // without one the cache would be unsafe.
    verification_cache_t(std::chrono::milliseconds lifetime, std::size_t capacity);
    verification_cache_t(const verification_cache_t&) = delete;
    verification_cache_t& operator=(const verification_cache_t&) = delete;
    ~verification_cache_t();

    // True when the triple was remembered at a time t with now < t + lifetime.
    bool contains(std::string_view name, std::string_view password, std::string_view record,
                  clock_t::time_point now);
    // Remembers the triple as checked at `now`.
    void remember(std::string_view name, std::string_view password, std::string_view record,
                  clock_t::time_point now);
    std::size_t size();

private:
    std::string key(std::string_view name, std::string_view password,
                    std::string_view record) const;

    const std::chrono::milliseconds m_lifetime;
    const std::size_t m_capacity;
    std::string m_secret;
    std::mutex m_mutex;
    std::unordered_map<std::string, clock_t::time_point> m_expiry;
};

}  // namespace Core_Server
