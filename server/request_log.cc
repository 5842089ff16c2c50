#include "request_log.h"

#include <chrono>
#include <cstdio>
#include <ostream>

#include "log_text.h"
#include "utc_time.h"

namespace Core_Server {
namespace {

std::string time_stamp() {
    const auto now = std::chrono::system_clock::now();
    const auto ms =
        std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()).count() %
        1000;
    char suffix[8];
    std::snprintf(suffix, sizeof suffix, ".%03d", static_cast<int>(ms));
    return format_utc(now) + suffix;
}

// Quotes a value a client chose, bounded and escaped.
std::string quoted(const std::string& text) { return "\"" + log_safe(text, LOG_TEXT_MAX) + "\""; }

std::string or_dash(const std::string& text) { return text.empty() ? "-" : text; }

}  // namespace

std::string request_log_t::format(const request_log_entry_t& e) {
    char ms[32];
    std::snprintf(ms, sizeof ms, "%.1f", e.milliseconds);
    return "peer=" + or_dash(e.peer) + " user=" + (e.user.empty() ? "-" : quoted(e.user)) +
           " action=" + or_dash(e.action) + " result=" + or_dash(e.result) +
           " in=" + std::to_string(e.bytes_in) + " out=" + std::to_string(e.bytes_out) +
           " ms=" + ms + (e.tls ? " tls" : "");
}

void request_log_t::write(const request_log_entry_t& entry) {
    const std::string line = time_stamp() + " " + format(entry) + "\n";
    std::lock_guard<std::mutex> lock(m_mutex);
    m_out << line << std::flush;
}

void request_log_t::note(const std::string& text) {
    // Notes quote what stores and peers said: one line, bounded.
    const std::string line = time_stamp() + " " + log_safe(text, 4 * LOG_TEXT_MAX, false) + "\n";
    std::lock_guard<std::mutex> lock(m_mutex);
    m_out << line << std::flush;
}

}  // namespace Core_Server
