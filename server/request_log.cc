#include "request_log.h"

#include <chrono>
#include <cstdio>
#include <ostream>

#include "utc_time.h"

namespace Core_Server {
namespace {

std::string time_stamp() {
    const auto now = std::chrono::system_clock::now();
    const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(
                        now.time_since_epoch()) .count() % 1000;
    char suffix[8];
    std::snprintf(suffix, sizeof suffix, ".%03d", static_cast<int>(ms));
    return format_utc(now) + suffix;
}

// Quotes a value a client chose, escaping what would break the line.
std::string quoted(const std::string& text) {
    std::string out = "\"";
    for (const unsigned char c : text) {
        if (c == '"' || c == '\\') {
            out += '\\';
            out += static_cast<char>(c);
        } else if (c < 0x20 || c == 0x7f) {
            char escape[8];
            std::snprintf(escape, sizeof escape, "\\x%02x", c);
            out += escape;
        } else {
            out += static_cast<char>(c);
        }
    }
    return out + "\"";
}

std::string or_dash(const std::string& text) { return text.empty() ? "-" : text; }

}  // namespace

std::string request_log_t::format(const request_log_entry_t& e) {
    char ms[32];
    std::snprintf(ms, sizeof ms, "%.1f", e.milliseconds);
    return "peer=" + or_dash(e.peer) + " user=" + (e.user.empty() ? "-" : quoted(e.user)) +
           " action=" + or_dash(e.action) + " result=" + or_dash(e.result) +
           " in=" + std::to_string(e.bytes_in) + " out=" + std::to_string(e.bytes_out) +
           " ms=" + ms;
}

void request_log_t::write(const request_log_entry_t& entry) {
    const std::string line = time_stamp() + " " + format(entry) + "\n";
    std::lock_guard<std::mutex> lock(m_mutex);
    m_out << line << std::flush;
}

void request_log_t::note(const std::string& text) {
    const std::string line = time_stamp() + " " + text + "\n";
    std::lock_guard<std::mutex> lock(m_mutex);
    m_out << line << std::flush;
}

}  // namespace Core_Server
