// Public engine surface: reading the process environment.
//
// Thread rule: safe from any thread as long as nobody changes the
// environment at the same time.
#pragma once

#include <string>

namespace Core_Platform {

// When the environment variable `name` is set, stores its value (the
// system's narrow bytes) in `value` and returns true; otherwise returns
// false and leaves `value` unchanged.
bool environment_value(const std::string& name, std::string& value);

// Sets the environment variable `name` to `value` for this process and the
// programs it starts. Returns false for a name that is empty or holds '=',
// or when the environment cannot grow. Not thread-safe with readers.
bool set_environment_value(const std::string& name, const std::string& value);

// The user's home directory: $HOME when it is an absolute path, otherwise
// the one the user database gives. Empty when neither is known.
std::string home_directory();

// Where the user's programs keep their data: $XDG_DATA_HOME when it is an
// absolute path (a relative one is ignored, as the base-directory rules
// say), otherwise ~/.local/share. Empty when no home directory is known.
std::string user_data_home();

}  // namespace Core_Platform
