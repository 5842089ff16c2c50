// Public engine surface: the process-wide settings of the sync client that
// the host writes: the server it talks to and the data directory of the
// local store.
//
// The server host is read when the sync-client module starts (so a host sets
// it before starting the framework). The text may carry a port after a
// colon ("example.org:9000"); without one the client uses server_port.
// The data directory is read by every operation of the local store at the
// moment it runs, so the host may change it at any time.
//
// Thread rule: safe from any thread (each value has its own lock).
#pragma once

#include <cstdint>
#include <string>

namespace Core_ZorvaneClient {

// The host the client talks to until the host names another one.
inline constexpr const char* kDefaultServerHost = "localhost";
// The server's TCP port when the host text names none.
inline constexpr std::uint16_t server_port = 8080;

// The server host text; kDefaultServerHost until set_server_host is called.
std::string server_host();
// Replaces the server host text; an empty text restores the default. Takes
// effect when the sync-client module next starts.
void set_server_host(std::string host);

// The data directory of the local store; empty until set.
std::u16string data_directory();
// Replaces the data directory. An empty path means "no data directory":
// the local store then reads, writes and removes nothing.
void set_data_directory(std::u16string directory);

}  // namespace Core_ZorvaneClient
