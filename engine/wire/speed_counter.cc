#include "wire/speed_counter.h"

#include "common/tick_count.h"

namespace Core_Wire {

void speed_counter::add(std::uint64_t bytes) {
    std::lock_guard<std::mutex> guard(m_lock);
    roll(Core_Common::tick_count64());
    m_total += bytes;
    m_window_bytes += bytes;
}

std::uint64_t speed_counter::total() const {
    std::lock_guard<std::mutex> guard(m_lock);
    return m_total;
}

std::uint64_t speed_counter::rate() const {
    std::lock_guard<std::mutex> guard(m_lock);
    roll(Core_Common::tick_count64());
    return m_last_window_bytes;
}

void speed_counter::roll(std::uint64_t now) const {
    if (now - m_window_start < 1000) {
        return;
    }
    // A window that ended more than a second ago leaves nothing current.
    m_last_window_bytes = (now - m_window_start < 2000) ? m_window_bytes : 0;
    m_window_bytes = 0;
    m_window_start = now;
}

void byte_budget::set_limit(std::uint32_t bytes_per_second) {
    std::lock_guard<std::mutex> guard(m_lock);
    m_limit = bytes_per_second;
}

std::uint32_t byte_budget::limit() const {
    std::lock_guard<std::mutex> guard(m_lock);
    return m_limit;
}

std::uint32_t byte_budget::remaining() const {
    const std::uint32_t limit_now = limit();
    if (limit_now == 0) {
        return kUnlimited;
    }
    const std::uint64_t rate = m_counter.rate();
    return rate >= limit_now ? 0 : static_cast<std::uint32_t>(limit_now - rate);
}

std::uint64_t bytes_with_overhead(std::uint64_t n) { return n + (n / 1500) * 112 + 112; }

}  // namespace Core_Wire
