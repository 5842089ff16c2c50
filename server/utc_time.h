// Internal to the server: the date texts of stored versions.
#pragma once

#include <chrono>
#include <string>

namespace Core_Server {

// "YYYY-MM-DD HH:MM:SS" in UTC, seconds truncated. Thread-safe.
std::string format_utc(std::chrono::system_clock::time_point when);

// format_utc of the current time.
std::string utc_now_text();

}  // namespace Core_Server
