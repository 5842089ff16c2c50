// Internal to zorvane-native-host: `zorvane-native-host install`, which
// writes the per-user native-messaging manifests that let Chromium and
// Firefox start this program for the Zorvane extension (and no other).
#pragma once

#include <ostream>
#include <string>
#include <vector>

namespace Zorvane_Native {

// The name the extension connects to.
inline constexpr const char* kHostName = "net.zorvane.host";

// The Chromium extension id of a manifest's "key" (base64 of the public
// key): the first 16 bytes of its SHA-256, each half byte a letter a-p.
// Empty when the key does not decode.
std::string chromium_extension_id(const std::string& key_base64);

// Runs `install` with its arguments (after the word "install"). Returns
// the exit status: 0 written, 1 failed, 2 wrong usage.
int run_install(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);

}  // namespace Zorvane_Native
