// Internal to the server: the rule for account names, the same for the
// operator's commands and for the names in requests.
//
// Pure and thread-safe.
#pragma once

#include <cstddef>
#include <string>

namespace Core_Server {

inline constexpr std::size_t MAX_ACCOUNT_NAME_BYTES = 255;

// Whether `name` may name an account: 1 to 255 bytes of well-formed UTF-8
// without control characters.
bool is_valid_account_name(const std::string& name);

}  // namespace Core_Server
