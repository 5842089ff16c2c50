// Public engine surface: the local wall-clock time of day.
//
// Thread-safe.
#pragma once

#include <cstdint>

namespace Core_Platform {

// A time of day in the local time zone, with the microseconds of the
// current second.
struct time_of_day_t {
    std::int32_t hour = 0;         // 0-23
    std::int32_t minute = 0;       // 0-59
    std::int32_t second = 0;       // 0-60 (a leap second shows as 60)
    std::int32_t microsecond = 0;  // 0-999999
};

// Reads the system clock once and converts that one reading to local time,
// so the microseconds always belong to the second shown. Returns false (and
// leaves `out` unchanged) when the clock or the time-zone conversion fails.
bool local_time_of_day(time_of_day_t& out);

// A calendar time: year (e.g. 2011), month 1-12, day 1-31, hour, minute,
// second.
struct calendar_time_t {
    std::int32_t year = 0;
    std::int32_t month = 0;
    std::int32_t day = 0;
    std::int32_t hour = 0;
    std::int32_t minute = 0;
    std::int32_t second = 0;
};

// Takes `utc` as universal time and stores the same moment as local time in
// `local`, by the machine's time-zone rules (the TZ environment variable is
// read again on every call). Returns false, leaving `local` unchanged, when
// the moment cannot be represented or converted.
bool utc_to_local(const calendar_time_t& utc, calendar_time_t& local);

}  // namespace Core_Platform
