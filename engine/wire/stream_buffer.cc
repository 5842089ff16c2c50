#include "wire/stream_buffer.h"

#include "common/fatal_error.h"

namespace Core_Wire {

wire_buffer_stats_t& wire_buffer_stats() {
    static wire_buffer_stats_t stats;
    return stats;
}

stream_buffer::stream_buffer(direction_enum direction) : m_direction(direction) {}

stream_buffer::~stream_buffer() {
    m_main.clear();
    m_main.shrink_to_fit();
    m_side.clear();
    m_side.shrink_to_fit();
    report();
}

void stream_buffer::append(const char* data, std::size_t n) {
    std::lock_guard<std::mutex> guard(m_lock);
    if (m_side.empty() && !m_reading) {
        m_main.insert(m_main.end(), data, data + n);
    } else {
        m_side.insert(m_side.end(), data, data + n);
    }
    report();
}

stream_buffer::view_t stream_buffer::view() {
    std::lock_guard<std::mutex> guard(m_lock);
    m_reading = true;
    if (!m_side.empty()) {
        m_main.insert(m_main.end(), m_side.begin(), m_side.end());
        m_side.clear();
        report();
    }
    view_t out;
    out.data = m_main.empty() ? nullptr : m_main.data();
    out.size = m_main.size();
    out.new_bytes = out.size - m_seen;
    m_seen = out.size;
    return out;
}

void stream_buffer::consume(std::size_t n) {
    std::lock_guard<std::mutex> guard(m_lock);
    m_reading = false;
    if (n == 0) {
        return;
    }
    if (n > m_main.size()) {
        Core_Common::fatal_error();
    }
    m_main.erase(m_main.begin(), m_main.begin() + static_cast<std::ptrdiff_t>(n));
    m_seen = n > m_seen ? 0 : m_seen - n;
    report();
}

std::size_t stream_buffer::size() const {
    std::lock_guard<std::mutex> guard(m_lock);
    return m_main.size() + m_side.size();
}

void stream_buffer::report() {
    const auto capacity = static_cast<std::int64_t>(m_main.capacity() + m_side.capacity());
    const auto size = static_cast<std::int64_t>(m_main.size() + m_side.size());
    wire_buffer_stats_t& stats = wire_buffer_stats();
    auto& capacity_total = m_direction == SEND ? stats.send_capacity : stats.recv_capacity;
    auto& used_total = m_direction == SEND ? stats.send_used : stats.recv_used;
    capacity_total.fetch_add(capacity - m_reported_capacity);
    used_total.fetch_add(size - m_reported_size);
    m_reported_capacity = capacity;
    m_reported_size = size;
}

}  // namespace Core_Wire
