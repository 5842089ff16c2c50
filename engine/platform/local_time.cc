#include "platform/local_time.h"

#include <errno.h>
#include <time.h>

namespace Core_Platform {

bool local_time_of_day(time_of_day_t& out) {
    struct timespec now {};
    if (::clock_gettime(CLOCK_REALTIME, &now) != 0) {
        return false;
    }
    struct tm local {};
    if (::localtime_r(&now.tv_sec, &local) == nullptr) {
        return false;
    }
    out.hour = local.tm_hour;
    out.minute = local.tm_min;
    out.second = local.tm_sec;
    out.microsecond = static_cast<std::int32_t>(now.tv_nsec / 1000);
    return true;
}

bool utc_to_local(const calendar_time_t& utc, calendar_time_t& local) {
    struct tm in {};
    in.tm_year = utc.year - 1900;
    in.tm_mon = utc.month - 1;
    in.tm_mday = utc.day;
    in.tm_hour = utc.hour;
    in.tm_min = utc.minute;
    in.tm_sec = utc.second;
    errno = 0;
    const time_t moment = ::timegm(&in);
    if (moment == static_cast<time_t>(-1) && errno != 0) {
        return false;
    }
    ::tzset();
    struct tm out {};
    if (::localtime_r(&moment, &out) == nullptr) {
        return false;
    }
    local.year = out.tm_year + 1900;
    local.month = out.tm_mon + 1;
    local.day = out.tm_mday;
    local.hour = out.tm_hour;
    local.minute = out.tm_min;
    local.second = out.tm_sec;
    return true;
}

}  // namespace Core_Platform
