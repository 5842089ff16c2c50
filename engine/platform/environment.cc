#include "platform/environment.h"

#include <cstdlib>

namespace Core_Platform {

bool environment_value(const std::string& name, std::string& value) {
    if (name.empty() || name.find('=') != std::string::npos) return false;
    const char* found = std::getenv(name.c_str());
    if (found == nullptr) return false;
    value = found;
    return true;
}

}  // namespace Core_Platform
