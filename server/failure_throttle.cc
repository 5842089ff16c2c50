#include "failure_throttle.h"

#include <openssl/sha.h>

#include <algorithm>
#include <vector>

namespace Core_Server {

std::string failure_throttle_t::digest(const std::string& key) {
    unsigned char sha[SHA256_DIGEST_LENGTH];
    SHA256(reinterpret_cast<const unsigned char*>(key.data()), key.size(), sha);
    return std::string(reinterpret_cast<const char*>(sha), 16);
}

bool failure_throttle_t::allowed(const std::string& key, clock_t::time_point now) {
    const std::string k = digest(key);
    std::lock_guard<std::mutex> lock(m_mutex);
    const auto it = m_entries.find(k);
    return it == m_entries.end() || now >= it->second.locked_until;
}

void failure_throttle_t::record_failure(const std::string& key, clock_t::time_point now) {
    const std::string k = digest(key);
    std::lock_guard<std::mutex> lock(m_mutex);
    auto it = m_entries.find(k);
    if (it == m_entries.end()) {
        make_room(now);
        it = m_entries.emplace(k, entry_t{}).first;
        it->second.window_start = now;
    }
    entry_t& e = it->second;
    if (now < e.locked_until) return;  // refused attempts are not checked, so not counted
    if (now - e.window_start >= m_limits.window) {
        // A quiet window after the last lock-out forgives the strikes.
        if (e.strikes > 0 && now - e.locked_until >= m_limits.window) e.strikes = 0;
        e.failures = 0;
        e.window_start = now;
    }
    if (++e.failures >= m_limits.max_failures) {
        const int factor = 1 << std::min(e.strikes, 6);
        e.locked_until = now + m_limits.lockout * factor;
        ++e.strikes;
        e.failures = 0;
        e.window_start = e.locked_until;
    }
}

std::size_t failure_throttle_t::size() {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_entries.size();
}

void failure_throttle_t::make_room(clock_t::time_point now) {
    if (m_entries.size() < m_limits.capacity) return;
    std::erase_if(m_entries, [&](const auto& item) {
        const entry_t& e = item.second;
        return now >= e.locked_until && now - e.window_start >= m_limits.window &&
               now - e.locked_until >= m_limits.window;
    });
    if (m_entries.size() < m_limits.capacity) return;
    // Still full of recent keys: drop the unlocked ones whose windows began
    // earliest, keeping every lock-out in force.
    std::vector<std::pair<clock_t::time_point, std::string>> unlocked;
    for (const auto& [key, e] : m_entries) {
        if (now >= e.locked_until) unlocked.emplace_back(e.window_start, key);
    }
    std::sort(unlocked.begin(), unlocked.end());
    const std::size_t drop = std::min(unlocked.size(), m_entries.size() / 2 + 1);
    for (std::size_t i = 0; i < drop; ++i) m_entries.erase(unlocked[i].second);
}

}  // namespace Core_Server
