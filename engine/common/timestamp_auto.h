// Public engine surface: a millisecond time stamp on the tick_count64 scale.
//
// A timestamp_auto holds one stamp, set to a tick_count64() reading when
// constructed. Elapsed values are signed: a stamp in the future gives negative
// values; divisions to seconds truncate toward zero.
//
// An object is not locked: one thread at a time, or the owner's lock.
#pragma once

#include <cstdint>

namespace Core_Common {

class timestamp_auto {
public:
    timestamp_auto();
    virtual ~timestamp_auto() = default;
    timestamp_auto(const timestamp_auto&) = default;
    timestamp_auto& operator=(const timestamp_auto&) = default;

    // stamp := a tick_count64() reading.
    virtual void reset();
    // stamp += n * 1000.
    virtual void add_seconds(std::int64_t n);
    // stamp += n.
    virtual void add_milliseconds(std::int64_t n);
    // elapsed_milliseconds_since(t) / 1000.
    virtual std::int64_t elapsed_seconds_since(std::uint64_t t) const;
    // elapsed_milliseconds() / 1000.
    virtual std::int64_t elapsed_seconds() const;
    // t - stamp, as a signed value.
    virtual std::int64_t elapsed_milliseconds_since(std::uint64_t t) const;
    // tick_count64() - stamp, as a signed value.
    virtual std::int64_t elapsed_milliseconds() const;

    std::uint64_t m_stamp = 0;
};

}  // namespace Core_Common
