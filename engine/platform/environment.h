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

}  // namespace Core_Platform
