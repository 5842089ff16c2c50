#include "common/timestamp_auto.h"

#include "common/tick_count.h"

namespace Core_Common {

timestamp_auto::timestamp_auto() : m_stamp(tick_count64()) {}

void timestamp_auto::reset() { m_stamp = tick_count64(); }

void timestamp_auto::add_seconds(std::int64_t n) {
    m_stamp += static_cast<std::uint64_t>(n) * 1000u;
}

void timestamp_auto::add_milliseconds(std::int64_t n) { m_stamp += static_cast<std::uint64_t>(n); }

std::int64_t timestamp_auto::elapsed_seconds_since(std::uint64_t t) const {
    return elapsed_milliseconds_since(t) / 1000;
}

std::int64_t timestamp_auto::elapsed_seconds() const { return elapsed_milliseconds() / 1000; }

std::int64_t timestamp_auto::elapsed_milliseconds_since(std::uint64_t t) const {
    return static_cast<std::int64_t>(t - m_stamp);
}

std::int64_t timestamp_auto::elapsed_milliseconds() const {
    return static_cast<std::int64_t>(tick_count64() - m_stamp);
}

}  // namespace Core_Common
