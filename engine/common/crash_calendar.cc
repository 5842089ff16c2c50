#include "common/crash_calendar.h"

#include "common/crash_text_builder.h"

namespace Core_Common {

civil_time_t civil_from_seconds(std::int64_t seconds) {
    std::int64_t days = seconds / 86400;
    std::int64_t rest = seconds % 86400;
    if (rest < 0) {
        rest += 86400;
        --days;
    }
    // Days to a proleptic Gregorian date (the era-based method).
    days += 719468;
    const std::int64_t era = (days >= 0 ? days : days - 146096) / 146097;
    const std::int64_t doe = days - era * 146097;
    const std::int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const std::int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const std::int64_t mp = (5 * doy + 2) / 153;
    const std::int64_t day = doy - (153 * mp + 2) / 5 + 1;
    const std::int64_t month = mp < 10 ? mp + 3 : mp - 9;
    const std::int64_t year = yoe + era * 400 + (month <= 2 ? 1 : 0);
    civil_time_t t;
    t.year = static_cast<std::int32_t>(year);
    t.month = static_cast<std::int32_t>(month);
    t.day = static_cast<std::int32_t>(day);
    t.hour = static_cast<std::int32_t>(rest / 3600);
    t.minute = static_cast<std::int32_t>(rest % 3600 / 60);
    t.second = static_cast<std::int32_t>(rest % 60);
    return t;
}

bool fat_time_text(const civil_time_t& time, char* out, std::size_t capacity) {
    if (capacity == 0) return false;
    out[0] = '\0';
    if (time.year < 1980 || time.year > 2107) return false;
    text_builder_t b{out, capacity};
    b.put_unsigned(static_cast<std::uint64_t>(time.month));
    b.put('/');
    b.put_unsigned(static_cast<std::uint64_t>(time.day));
    b.put('/');
    b.put_unsigned(static_cast<std::uint64_t>(time.year));
    b.put(' ');
    b.put_unsigned(static_cast<std::uint64_t>(time.hour), 2);
    b.put(':');
    b.put_unsigned(static_cast<std::uint64_t>(time.minute), 2);
    b.put(':');
    b.put_unsigned(static_cast<std::uint64_t>(time.second & ~1), 2);
    return true;
}

}  // namespace Core_Common
