// Internal to the server: throttling of failed password checks.
//
// Failures are counted per key (the server uses one key per account name
// and one per peer address). When `max_failures` failures of one key fall
// within `window` of the first of them, the key is refused for `lockout`;
// each further lock-out of the same key, before it has been quiet for a whole
// `window` after its last lock-out ended, doubles the time (up to 64 times
// `lockout`). A success changes nothing: the rightful user logging in now
// and then must not wipe the history of someone guessing in between.
//
// Bounded: at most `capacity` keys are tracked, each as a 16-byte digest
// whatever its length; when full, keys that are neither locked nor inside
// their window are forgotten, and if that is not enough the oldest unlocked
// keys go (lock-outs in force are always kept). Thread-safe.
#pragma once

#include <chrono>
#include <cstddef>
#include <mutex>
#include <string>
#include <unordered_map>

namespace Core_Server {

struct throttle_limits_t {
    int max_failures = 5;
    std::chrono::milliseconds window = std::chrono::minutes(1);
    std::chrono::milliseconds lockout = std::chrono::minutes(1);
    std::size_t capacity = 100000;
};

class failure_throttle_t {
public:
    using clock_t = std::chrono::steady_clock;

    explicit failure_throttle_t(throttle_limits_t limits) : m_limits(limits) {}
    failure_throttle_t(const failure_throttle_t&) = delete;
    failure_throttle_t& operator=(const failure_throttle_t&) = delete;

    // False while `key` is locked out.
    bool allowed(const std::string& key, clock_t::time_point now);
    // Counts one failure of `key` at `now`.
    void record_failure(const std::string& key, clock_t::time_point now);
    std::size_t size();

private:
    struct entry_t {
        int failures = 0;
        int strikes = 0;  // lock-outs so far, for the doubling
        clock_t::time_point window_start;
        clock_t::time_point locked_until;
    };
    void make_room(clock_t::time_point now);
    static std::string digest(const std::string& key);

    const throttle_limits_t m_limits;
    std::mutex m_mutex;
    std::unordered_map<std::string, entry_t> m_entries;  // by digest(key)
};

}  // namespace Core_Server
