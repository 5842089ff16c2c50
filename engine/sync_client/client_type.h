// Public engine surface: the client type the engine reports to the server
// ("ClientType" of commit and overwrite requests), taken from the name of
// the host program.
//
// Thread rule: safe from any thread.
#pragma once

#include <string>
#include <string_view>

namespace Core_ZorvaneClient {

// The client type for an executable path: its file name (after the last "/"
// or "\") lower-cased; "Tarnwick" when it contains "tarnwick", else
// "Glimmerfin" when it contains "glimmerfin", else "FIREFOX".
std::string client_type_for_executable(std::string_view executable_path);

// client_type_for_executable of the host process's executable
// (Core_Platform::host_executable_path).
std::string client_type_name();

}  // namespace Core_ZorvaneClient
