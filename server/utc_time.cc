#include "utc_time.h"

#include <cstdio>
#include <ctime>

namespace Core_Server {

std::string format_utc(std::chrono::system_clock::time_point when) {
    const std::time_t seconds = std::chrono::system_clock::to_time_t(when);
    std::tm parts{};
    gmtime_r(&seconds, &parts);
    char text[80];
    std::snprintf(text, sizeof text, "%04d-%02d-%02d %02d:%02d:%02d", parts.tm_year + 1900,
                  parts.tm_mon + 1, parts.tm_mday, parts.tm_hour, parts.tm_min, parts.tm_sec);
    return text;
}

std::string utc_now_text() { return format_utc(std::chrono::system_clock::now()); }

}  // namespace Core_Server
