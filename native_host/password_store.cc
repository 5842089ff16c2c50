#include "password_store.h"

#include <libsecret/secret.h>

#include <cerrno>
#include <cstring>

#include "common/whole_file.h"
#include "platform/environment.h"
#include "platform/file_ops.h"
#include "platform/strings.h"

namespace Zorvane_Native {
namespace {

const SecretSchema* schema() {
    static const SecretSchema kSchema = {"net.zorvane.Password",
                                         SECRET_SCHEMA_NONE,
                                         {
                                             {"profile", SECRET_SCHEMA_ATTRIBUTE_STRING},
                                             {"server", SECRET_SCHEMA_ATTRIBUTE_STRING},
                                             {"user", SECRET_SCHEMA_ATTRIBUTE_STRING},
                                             {nullptr, SECRET_SCHEMA_ATTRIBUTE_STRING},
                                         },
                                         0,
                                         nullptr,
                                         nullptr,
                                         nullptr,
                                         nullptr,
                                         nullptr,
                                         nullptr,
                                         nullptr};
    return &kSchema;
}

// A keyring is only tried when a session bus is there: without one,
// libsecret would try to start a bus of its own.
bool keyring_wanted() {
    std::string value;
    if (Core_Platform::environment_value("ZORVANE_NO_KEYRING", value) && value == "1") return false;
    return Core_Platform::environment_value("DBUS_SESSION_BUS_ADDRESS", value) && !value.empty();
}

std::string file_of(const password_key_t& key) { return key.directory + "/password"; }

}  // namespace

bool store_password(const password_key_t& key, const std::string& password, std::string& where,
                    std::string& error) {
    if (keyring_wanted()) {
        GError* failure = nullptr;
        const std::string label = "Zorvane " + key.user + "@" + key.server;
        if (secret_password_store_sync(schema(), SECRET_COLLECTION_DEFAULT, label.c_str(),
                                       password.c_str(), nullptr, &failure, "profile",
                                       key.profile.c_str(), "server", key.server.c_str(), "user",
                                       key.user.c_str(), nullptr)) {
            Core_Platform::file_unlink(file_of(key));
            where = "keyring";
            return true;
        }
        if (failure != nullptr) g_error_free(failure);
    }
    const std::string path = file_of(key);
    // Made 0600 before the password goes in; the replacement keeps the bits.
    if (Core_Platform::path_kind(path) == Core_Platform::path_kind_enum::missing) {
        const int fd = Core_Platform::file_create_new(path, 0600);
        if (fd >= 0) Core_Platform::file_close(fd);
    }
    if (Core_Platform::path_mode(path, 0777) & 0077 ||
        !Core_Common::write_whole_file(Core_Platform::utf8_to_wide(path), password)) {
        error = "cannot keep the password in " + path + ": " + std::strerror(errno);
        return false;
    }
    where = "file";
    return true;
}

bool load_password(const password_key_t& key, std::string& password) {
    if (keyring_wanted()) {
        GError* failure = nullptr;
        gchar* found = secret_password_lookup_sync(
            schema(), nullptr, &failure, "profile", key.profile.c_str(), "server",
            key.server.c_str(), "user", key.user.c_str(), nullptr);
        if (failure != nullptr) g_error_free(failure);
        if (found != nullptr) {
            password = found;
            secret_password_free(found);
            return true;
        }
    }
    std::string text;
    if (!Core_Common::read_whole_file(Core_Platform::utf8_to_wide(file_of(key)), text) ||
        text.empty())
        return false;
    password = text;
    return true;
}

void forget_password(const password_key_t& key) {
    if (keyring_wanted()) {
        GError* failure = nullptr;
        secret_password_clear_sync(schema(), nullptr, &failure, "profile", key.profile.c_str(),
                                   "server", key.server.c_str(), "user", key.user.c_str(), nullptr);
        if (failure != nullptr) g_error_free(failure);
    }
    Core_Platform::file_unlink(file_of(key));
}

}  // namespace Zorvane_Native
