// Public engine surface: service results and the table of service result
// names.
//
// The server states the outcome of every request as a result name ("OK",
// "NO_RECORD", ...) with an optional message. Inside the engine a result is
// a service_error_t: a numeric code and a wide message. The session client
// uses the same codes for its own transport outcomes.
//
// The name table is process-wide and filled before main() runs; the sync
// client adds "INVALID_VERSION" when it is constructed. All functions are
// thread-safe.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace Core_Common {

// A service or transport outcome. Code 0 is success; any other code is an
// error, whatever the message says.
struct service_error_t {
    std::int32_t code = 0;
    std::u16string message;

    bool is_error() const { return code != 0; }
};

// The codes of the built-in result names.
enum service_code_enum : std::int32_t {
    SERVICE_OK = 0,
    SERVICE_MAINTENANCE = 1,
    SERVICE_BUSY = 2,
    SERVICE_CONNECT_FAILED = 3,
    SERVICE_PROTOCOL_ERROR = 4,
    SERVICE_EXCEPTION = 5,
    SERVICE_NO_RECORD = 6,
    SERVICE_SITE_AUTH_FAILED = 7,
    SERVICE_USERNAME_INVALID = 8,
    SERVICE_USERNAME_EXISTED = 9,
    SERVICE_EMAIL_INVALID = 10,
    SERVICE_EMAIL_EXISTED = 11,
    SERVICE_PASSWORD_INVALID = 12,
    SERVICE_INVALID_PASSWORD = 13,
    SERVICE_INVALID_SECURITY_ANSWER = 14,
    SERVICE_INVALID_VERIFICATION_STRING = 15,
    SERVICE_GENERATED_RECENTLY = 16,
    SERVICE_INVALID_PASSWORD_NEED_VALIDATECODE = 17,
    SERVICE_NEED_VALIDATECODE = 18,
    SERVICE_OUT_OF_DATE = 19,
    SERVICE_INVALID_SESSION = 20,
    SERVICE_POLICY = 21,
    SERVICE_SUPERVISE = 22,
    SERVICE_ACCESS_DENIED = 23,
    // Not in the table until the sync client adds it with add_service_name.
    SERVICE_INVALID_VERSION = INT32_MIN,
};

// The code of a result name (compared exactly, byte-wise); 4
// ("PROTOCOL_ERROR") when the name is not in the table.
std::int32_t service_code_from_name(std::string_view name);

// The name of a code; empty when the code has no name.
std::string service_name_from_code(std::int32_t code);

// Sets the name of `code` and the code of `name`, replacing earlier entries
// of either.
void add_service_name(std::int32_t code, std::string_view name);

}  // namespace Core_Common
