// Internal to common/: the calendar and FAT file-time arithmetic of a crash
// report. Pure functions that allocate nothing (they run inside a signal
// handler).
#pragma once

#include <cstddef>
#include <cstdint>

namespace Core_Common {

struct civil_time_t {
    std::int32_t year, month, day, hour, minute, second;
};
// The calendar date and time of `seconds` after 1970-01-01 00:00:00.
civil_time_t civil_from_seconds(std::int64_t seconds);

// "month/day/year hh:mm:ss" of the time in the two-second steps of the FAT
// date form (odd seconds go down by one). False (and an empty text) for
// years outside 1980 to 2107, which that form cannot hold. `out` holds at
// least 32 characters.
bool fat_time_text(const civil_time_t& time, char* out, std::size_t capacity);

}  // namespace Core_Common
