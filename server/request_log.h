// Internal to the server: one log line per request.
//
//   2026-12-09 05:20:00.123 peer=127.0.0.1:51234 user="bob" action=Commit
//     result=OK in=1234 out=567 ms=3 [tls]
// (on one line). `in` and `out` are the bytes received and sent on the
// connection; "tls" ends the line of a connection over TLS. Connections
// dropped before a reply (bad envelope, request too large, time-out) are
// logged the same way with the reason as result. The user name, chosen by
// the client, is quoted, cut to LOG_TEXT_MAX bytes and escaped (log_text.h);
// notes are cut and escaped the same way.
// Thread-safe: lines are written whole.
#pragma once

#include <cstdint>
#include <iosfwd>
#include <mutex>
#include <string>

namespace Core_Server {

struct request_log_entry_t {
    std::string peer;
    std::string user;
    std::string action;
    std::string result;
    std::uint64_t bytes_in = 0;
    std::uint64_t bytes_out = 0;
    double milliseconds = 0;
    bool tls = false;
};

class request_log_t {
public:
    // Writes to `out`, which must outlive the log.
    explicit request_log_t(std::ostream& out) : m_out(out) {}

    void write(const request_log_entry_t& entry);
    // A line of its own for events that are not requests (start, stop,
    // store failures), after the same time stamp.
    void note(const std::string& text);

    // The line `write` would write, without the time stamp.
    static std::string format(const request_log_entry_t& entry);

private:
    std::ostream& m_out;
    std::mutex m_mutex;
};

}  // namespace Core_Server
