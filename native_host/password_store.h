// Internal to zorvane-native-host: where an account's password is kept.
//
// The password never goes into the browser's storage. When a keyring runs
// (a D-Bus session bus with a secret service), it is kept there through
// libsecret, under the profile, the server and the user. Otherwise it is
// kept in the file "password" (mode 0600) of the account's directory, which
// the host keeps at mode 0700. ZORVANE_NO_KEYRING=1 skips the keyring.
#pragma once

#include <string>

namespace Zorvane_Native {

struct password_key_t {
    std::string profile;
    std::string server;  // HOST:PORT
    std::string user;
    std::string directory;  // the account's directory (exists, 0700)
};

// Keeps `password`; `where` becomes "keyring" or "file". False with `error`
// set when neither takes it.
bool store_password(const password_key_t& key, const std::string& password, std::string& where,
                    std::string& error);

// The kept password, or false when there is none.
bool load_password(const password_key_t& key, std::string& password);

// Forgets the kept password, in both places.
void forget_password(const password_key_t& key);

}  // namespace Zorvane_Native
