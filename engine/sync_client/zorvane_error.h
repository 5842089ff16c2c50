// Public engine surface: the sync client's error codes and the status keys
// handed to the scripts.
//
// The sync client reports the outcome of an action as a Boost.System error
// code in zorvane_category (name "zorvane"); success is the value 0 in the
// system category. The component front turns any error code into a status
// key with status_key. All functions are thread-safe.
#pragma once

#include <boost/system/error_code.hpp>
#include <string>
#include <type_traits>

#include "common/service_error.h"

namespace Core_ZorvaneClient {

// The values of zorvane_category.
enum zorvane_error_enum : int {
    ZORVANE_SERVER_MAINTENANCE = 1,  // the server answered "MAINTENANCE"
    ZORVANE_OUT_OF_DATE = 2,         // the server answered "OUT_OF_DATE"
    ZORVANE_INVALID_PROTOCOL = 3,    // an unreadable reply, or an unlisted result
    ZORVANE_SERVER_EXCEPTION = 4,    // "EXCEPTION", or an unknown action
    ZORVANE_NOT_FOUND = 5,           // "NO_RECORD" to an update or overwrite
    ZORVANE_INVALID_PASSWORD = 6,    // "INVALID_PASSWORD"
    ZORVANE_INVALID_VERSION = 7,     // "INVALID_VERSION" as a request's result
    ZORVANE_INVALID_BOOKMARK = 8,    // the scripts' tree is not acceptable
    ZORVANE_NOT_LOGGED_IN = 9,       // sync or overwrite without a verified user
    ZORVANE_TRANSPORT_FAILED = 10,   // the session client reported a failure
    ZORVANE_TREE_TOO_LARGE = 11,     // the tree is larger than a sync carries
};

// The category of the sync client's errors: name "zorvane", messages below;
// every other operation is the base class's.
class zorvane_category : public boost::system::error_category {
public:
    const char* name() const noexcept override;
    // The message text of `value`: "zorvane server maintenance",
    // "zorvane client out of date version", "zorvane invalid protocol",
    // "zorvane server exception", "zorvane not found",
    // "zorvane invalid password", "zorvane invalid version",
    // "zorvane invalid bookmark", "zorvane not Loginned" for 1 to 9,
    // "zorvane bookmark tree too large" for 11, and "zorvane unkown error"
    // for 10 and every other value.
    std::string message(int value) const override;
};

// The single category object, created on first use and destroyed at exit.
const boost::system::error_category& zorvane_category_instance();

// An error code of `value` in zorvane_category.
boost::system::error_code make_error_code(zorvane_error_enum value);

// The client error for a service result, by its code alone (the message is
// not used): MAINTENANCE → 1, EXCEPTION and POLICY → 4, NO_RECORD → 5,
// INVALID_PASSWORD → 6, OUT_OF_DATE → 2, INVALID_VERSION → 7, anything else
// (OK included) → 3.
boost::system::error_code client_error_from_service(const Core_Common::service_error_t& result);

// The status key of an error code, chosen by its value alone (the category
// is not consulted): 0 → "OK"; 2 → "zorvane.kernel.status.out_of_date";
// 3, 9, 10 → "zorvane.kernel.status.connect_failed";
// 5 → "zorvane.kernel.status.no_record";
// 6 → "zorvane.kernel.status.invalid_password";
// 11 → "zorvane.kernel.status.too_large";
// any other → "zorvane.kernel.status.exception".
std::u16string status_key(const boost::system::error_code& error);

}  // namespace Core_ZorvaneClient

namespace boost::system {
template <>
struct is_error_code_enum<Core_ZorvaneClient::zorvane_error_enum> : std::true_type {};
}  // namespace boost::system
