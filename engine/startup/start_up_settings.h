// Public engine surface: the values start-up writes into the process-wide
// settings before any module is initialised.
//
// The settings themselves belong to their layers (socket/socket_settings.h,
// wire/wire_settings.h, session/session_settings.h); start_framework copies
// these values into them in
// its step 3. Hosts leave the values as they are. Tests change them to drive
// the engine into its other paths (a short inactivity time-out, or the wire
// layer's socket-thread mode that start-up refuses).
//
// Thread rule: main thread only, between start-ups.
#pragma once

#include <cstdint>

namespace Core_Common {

struct start_up_settings_t {
    std::int32_t socket_incoming_threads = 1;
    std::int32_t socket_outgoing_threads = 1;
    std::int32_t tcp_io_timeout_seconds = 10;
    std::int32_t tcp_connect_timeout_seconds = 20;
    std::int32_t session_reply_timeout_seconds = 300;
    std::int32_t udp_min_send_interval = 10;
    bool enable_wire_socket_thread = false;
};

// The values the next start_framework writes; initially the defaults above.
start_up_settings_t& start_up_settings();

}  // namespace Core_Common
