#include "platform/local_time.h"

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

}  // namespace Core_Platform
