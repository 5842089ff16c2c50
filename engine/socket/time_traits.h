// Internal to the socket layer: the clock of every socket-layer timer.
//
// Time points are readings of tick_count64 (milliseconds); durations are
// signed microsecond counts. Adding a duration drops its sub-millisecond part,
// so a timer armed for d microseconds expires once floor(d / 1000) ms have
// passed, and one armed for less than a millisecond is due at once (on the
// context's next timer check). The context waits in whole milliseconds.
//
// Thread rule: stateless; usable from any thread.
#pragma once

#include <boost/asio/basic_deadline_timer.hpp>
#include <boost/asio/io_context.hpp>
#include <boost/date_time/posix_time/posix_time_types.hpp>
#include <cstdint>

#include "common/tick_count.h"

namespace Core_Socket {

struct time_t_traits {
    using time_type = std::uint64_t;     // milliseconds on the tick_count64 scale
    using duration_type = std::int64_t;  // microseconds

    static time_type now() { return Core_Common::tick_count64(); }

    static time_type add(time_type t, duration_type d) {
        return t + static_cast<time_type>(d / 1000);
    }

    static duration_type subtract(time_type a, time_type b) {
        return static_cast<duration_type>(a - b) * 1000;
    }

    static bool less_than(time_type a, time_type b) { return a < b; }

    static boost::posix_time::time_duration to_posix_duration(duration_type d) {
        return boost::posix_time::milliseconds(d / 1000);
    }
};

using socket_timer = boost::asio::basic_deadline_timer<time_t_traits::time_type, time_t_traits,
                                                       boost::asio::io_context::executor_type>;

}  // namespace Core_Socket
