#include "account_name.h"

#include "platform/strings.h"

namespace Core_Server {

bool is_valid_account_name(const std::string& name) {
    if (name.empty() || name.size() > MAX_ACCOUNT_NAME_BYTES) return false;
    // The round trip fails for malformed UTF-8 (empty result) and changes
    // every control character (replaced by '_').
    return Core_Platform::wide_to_utf8(Core_Platform::utf8_to_wide(name)) == name &&
           name.find_first_of("\t\n\r") == std::string::npos;
}

}  // namespace Core_Server
