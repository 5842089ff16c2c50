// Public engine surface: the account of the signed-in user.
//
// A value type; not synchronised.
#pragma once

#include <cstdint>
#include <string>

namespace Core_ZorvaneClient {

struct account_t {
    std::u16string user_name;
    // As entered; sent with every request and hashed into the local record.
    std::u16string password;
    // True once the server or the local store has accepted this user and
    // password; sync and overwrite refuse to start while it is false.
    bool verified = false;
    // Given with the user by the host; kept, never interpreted.
    std::int32_t profile_id = 0;
};

}  // namespace Core_ZorvaneClient
