// Internal to the component front: the date of the last synchronisation as
// the info object shows it.
#pragma once

#include <string>
#include <string_view>

namespace Core_ZorvaneComponent {

// Reads `stored` (the server's date text) as universal time, trying in order
// the forms "%Y%m%dT%H%M%S%F%q", "%Y-%m-%d %H:%M:%S%F%Q",
// "%Y-%b-%d %H:%M:%S%F %z", "%Y-%b-%d %H:%M:%S%F %ZP",
// "%a, %d %b %Y %H:%M:%S %q", "%Y-%m-%d %H:%M:%S %q" and then the general
// time-string reading; converts it to the machine's local time (kept as read
// when that fails) and returns it as "YYYY-MM-DD hh:mm:ss". Returns the empty
// text when `stored` is empty or does not read.
std::string display_date(std::string_view stored);

}  // namespace Core_ZorvaneComponent
