#include "wire/stream_buffer.h"

#include <algorithm>

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

namespace {
// A buffer whose capacity is above this gives it back when it empties.
constexpr std::size_t kKeptCapacity = 1024 * 1024;
}  // namespace

void stream_buffer::make_room(std::size_t more) {
    const std::size_t held = m_main.size() - m_head;
    if (m_head > 0 && (held == 0 || m_main.size() + more > m_main.capacity() || m_head >= held)) {
        // The consumed bytes go before the buffer grows, or once they are
        // the larger part of it (each byte is moved at most once that way).
        m_main.erase(m_main.begin(), m_main.begin() + static_cast<std::ptrdiff_t>(m_head));
        m_head = 0;
    }
    // Growing beyond that is left to the vector, which doubles.
    if (m_expected > m_main.capacity() - m_head) m_main.reserve(m_head + m_expected);
}

void stream_buffer::append(const char* data, std::size_t n) {
    std::lock_guard<std::mutex> guard(m_lock);
    if (m_side.empty() && !m_reading) {
        make_room(n);
        m_main.insert(m_main.end(), data, data + n);
    } else {
        m_side.insert(m_side.end(), data, data + n);
    }
    report();
}

void stream_buffer::expect(std::size_t n) {
    std::lock_guard<std::mutex> guard(m_lock);
    m_expected = n;
}

stream_buffer::view_t stream_buffer::view() {
    std::lock_guard<std::mutex> guard(m_lock);
    if (!m_reading && (!m_side.empty() || m_expected > m_main.capacity() - m_head)) {
        make_room(m_side.size());
        m_main.insert(m_main.end(), m_side.begin(), m_side.end());
        m_side.clear();
        report();
    }
    m_reading = true;
    view_t out;
    out.size = m_main.size() - m_head;
    out.data = out.size == 0 ? nullptr : m_main.data() + m_head;
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
    if (n > m_main.size() - m_head) {
        Core_Common::fatal_error();
    }
    m_head += n;
    m_seen = n > m_seen ? 0 : m_seen - n;
    if (m_head == m_main.size()) {
        m_head = 0;
        m_main.clear();
        if (m_main.capacity() > kKeptCapacity && m_expected == 0) {
            std::vector<char>().swap(m_main);
        }
    }
    report();
}

std::size_t stream_buffer::size() const {
    std::lock_guard<std::mutex> guard(m_lock);
    return m_main.size() - m_head + m_side.size();
}

std::size_t stream_buffer::expected() const {
    std::lock_guard<std::mutex> guard(m_lock);
    return m_expected;
}

void stream_buffer::report() {
    const auto capacity = static_cast<std::int64_t>(m_main.capacity() + m_side.capacity());
    const auto size = static_cast<std::int64_t>(m_main.size() - m_head + m_side.size());
    wire_buffer_stats_t& stats = wire_buffer_stats();
    auto& capacity_total = m_direction == SEND ? stats.send_capacity : stats.recv_capacity;
    auto& used_total = m_direction == SEND ? stats.send_used : stats.recv_used;
    capacity_total.fetch_add(capacity - m_reported_capacity);
    used_total.fetch_add(size - m_reported_size);
    m_reported_capacity = capacity;
    m_reported_size = size;
}

}  // namespace Core_Wire
