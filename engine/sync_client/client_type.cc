#include "sync_client/client_type.h"

#include "platform/host_process.h"
#include "platform/strings.h"

namespace Core_ZorvaneClient {

std::string client_type_for_executable(std::string_view executable_path) {
    const std::size_t slash = executable_path.find_last_of("/\\");
    std::string_view file_name =
        slash == std::string_view::npos ? executable_path : executable_path.substr(slash + 1);
    const std::string lower = Core_Platform::ascii_lower(file_name);
    if (lower.find("tarnwick") != std::string::npos) return "Tarnwick";
    if (lower.find("glimmerfin") != std::string::npos) return "Glimmerfin";
    return "FIREFOX";
}

std::string client_type_name() {
    return client_type_for_executable(Core_Platform::host_executable_path());
}

}  // namespace Core_ZorvaneClient
