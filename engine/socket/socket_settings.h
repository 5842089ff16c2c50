// Public engine surface: the socket layer's process-wide settings.
//
// Start-up (startup/framework.h) writes them on the main thread before the
// socket module is initialised; the socket layer reads them on any thread.
// The initial values are the library defaults; start-up sets 1, 1, 10, 20
// and 10.
#pragma once

#include <atomic>
#include <cstdint>

namespace Core_Socket {

// Number of "SocketIncoming" service threads.
inline std::atomic<std::int32_t> socket_incoming_threads{10};
// Number of "SocketOutgoing" service threads.
inline std::atomic<std::int32_t> socket_outgoing_threads{10};
// Inactivity time-out in seconds, copied into each new TCP connection.
inline std::atomic<std::int32_t> tcp_io_timeout_seconds{90};
// Connect deadline in seconds, copied into each new TCP connection: name
// resolution and every connect attempt together; a connection not
// established by then closes with 10060 (timed out). 0: no deadline of its
// own (the system's applies).
inline std::atomic<std::int32_t> tcp_connect_timeout_seconds{20};
// Least interval in milliseconds between two UDP datagrams sent (the sender
// sleeps for the remainder); 0 means no pause.
inline std::atomic<std::int32_t> udp_min_send_interval{0};

}  // namespace Core_Socket
