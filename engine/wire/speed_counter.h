// Internal to the wire layer: byte counters with a current rate, and byte
// budgets built on them.
//
// A speed_counter adds up the bytes it is given and reports the rate over
// the last whole second (bytes counted in the previous one-second window).
// A byte_budget is a counter with a limit in bytes per second; limit 0 means
// unlimited. Nothing in the engine sets a limit, so budgets only count.
//
// Thread rule: any thread; each object has its own lock.
#pragma once

#include <cstdint>
#include <mutex>

namespace Core_Wire {

class speed_counter {
public:
    void add(std::uint64_t bytes);
    std::uint64_t total() const;
    // Bytes counted in the last complete one-second window.
    std::uint64_t rate() const;

private:
    void roll(std::uint64_t now) const;  // lock held

    mutable std::mutex m_lock;
    std::uint64_t m_total = 0;
    mutable std::uint64_t m_window_start = 0;
    mutable std::uint64_t m_window_bytes = 0;
    mutable std::uint64_t m_last_window_bytes = 0;
};

class byte_budget {
public:
    static constexpr std::uint32_t kUnlimited = 0xFFFFFFFFu;

    void set_limit(std::uint32_t bytes_per_second);
    std::uint32_t limit() const;
    // kUnlimited without a limit; otherwise the limit minus the current rate,
    // never below 0.
    std::uint32_t remaining() const;
    speed_counter& counter() { return m_counter; }
    const speed_counter& counter() const { return m_counter; }

private:
    mutable std::mutex m_lock;
    std::uint32_t m_limit = 0;
    speed_counter m_counter;
};

// Bytes on the wire for n payload bytes, packet headers included:
// n + floor(n / 1500) * 112 + 112.
std::uint64_t bytes_with_overhead(std::uint64_t n);

}  // namespace Core_Wire
