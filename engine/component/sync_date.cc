#include "component/sync_date.h"

#include <boost/date_time/posix_time/posix_time.hpp>
#include <cstdio>
#include <locale>
#include <sstream>

#include "platform/local_time.h"

namespace Core_ZorvaneComponent {
namespace {

namespace pt = boost::posix_time;

constexpr const char* kForms[] = {
    "%Y%m%dT%H%M%S%F%q",       "%Y-%m-%d %H:%M:%S%F%Q",    "%Y-%b-%d %H:%M:%S%F %z",
    "%Y-%b-%d %H:%M:%S%F %ZP", "%a, %d %b %Y %H:%M:%S %q", "%Y-%m-%d %H:%M:%S %q",
};

bool read_with(const std::string& text, const char* form, pt::ptime& out) {
    try {
        std::istringstream in(text);
        in.imbue(std::locale(std::locale::classic(), new pt::time_input_facet(form)));
        pt::ptime parsed(boost::date_time::not_a_date_time);
        in >> parsed;
        if (in.fail() || parsed.is_special()) return false;
        out = parsed;
        return true;
    } catch (const std::exception&) {
        return false;
    }
}

}  // namespace

std::string display_date(std::string_view stored) {
    const std::string text(stored);
    if (text.empty()) return std::string();
    pt::ptime when(boost::date_time::not_a_date_time);
    bool found = false;
    for (const char* form : kForms) {
        if (read_with(text, form, when)) {
            found = true;
            break;
        }
    }
    if (!found) {
        try {
            when = pt::time_from_string(text);
            found = !when.is_special();
        } catch (const std::exception&) {
            found = false;
        }
    }
    if (!found) return std::string();

    Core_Platform::calendar_time_t utc;
    const boost::gregorian::date day = when.date();
    const pt::time_duration clock = when.time_of_day();
    utc.year = day.year();
    utc.month = day.month();
    utc.day = day.day();
    utc.hour = static_cast<std::int32_t>(clock.hours());
    utc.minute = static_cast<std::int32_t>(clock.minutes());
    utc.second = static_cast<std::int32_t>(clock.seconds());
    Core_Platform::calendar_time_t local = utc;
    if (!Core_Platform::utc_to_local(utc, local)) local = utc;

    char out[40];
    std::snprintf(out, sizeof out, "%04d-%02d-%02d %02d:%02d:%02d", local.year, local.month,
                  local.day, local.hour, local.minute, local.second);
    return std::string(out);
}

}  // namespace Core_ZorvaneComponent
