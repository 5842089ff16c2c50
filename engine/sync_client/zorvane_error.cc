#include "sync_client/zorvane_error.h"

namespace Core_ZorvaneClient {

const char* zorvane_category::name() const noexcept { return "zorvane"; }

std::string zorvane_category::message(int value) const {
    switch (value) {
        case ZORVANE_SERVER_MAINTENANCE:
            return "zorvane server maintenance";
        case ZORVANE_OUT_OF_DATE:
            return "zorvane client out of date version";
        case ZORVANE_INVALID_PROTOCOL:
            return "zorvane invalid protocol";
        case ZORVANE_SERVER_EXCEPTION:
            return "zorvane server exception";
        case ZORVANE_NOT_FOUND:
            return "zorvane not found";
        case ZORVANE_INVALID_PASSWORD:
            return "zorvane invalid password";
        case ZORVANE_INVALID_VERSION:
            return "zorvane invalid version";
        case ZORVANE_INVALID_BOOKMARK:
            return "zorvane invalid bookmark";
        case ZORVANE_NOT_LOGGED_IN:
            return "zorvane not Loginned";
        case ZORVANE_TREE_TOO_LARGE:
            return "zorvane bookmark tree too large";
        default:
            return "zorvane unkown error";
    }
}

const boost::system::error_category& zorvane_category_instance() {
    static const zorvane_category instance;
    return instance;
}

boost::system::error_code make_error_code(zorvane_error_enum value) {
    return boost::system::error_code(static_cast<int>(value), zorvane_category_instance());
}

boost::system::error_code client_error_from_service(const Core_Common::service_error_t& result) {
    switch (result.code) {
        case Core_Common::SERVICE_MAINTENANCE:
            return make_error_code(ZORVANE_SERVER_MAINTENANCE);
        case Core_Common::SERVICE_EXCEPTION:
        // "POLICY": the server refused to store what it was sent (a tree
        // too large for it); like a server failure, nothing was stored.
        case Core_Common::SERVICE_POLICY:
            return make_error_code(ZORVANE_SERVER_EXCEPTION);
        case Core_Common::SERVICE_NO_RECORD:
            return make_error_code(ZORVANE_NOT_FOUND);
        case Core_Common::SERVICE_INVALID_PASSWORD:
            return make_error_code(ZORVANE_INVALID_PASSWORD);
        case Core_Common::SERVICE_OUT_OF_DATE:
            return make_error_code(ZORVANE_OUT_OF_DATE);
        case Core_Common::SERVICE_INVALID_VERSION:
            return make_error_code(ZORVANE_INVALID_VERSION);
        default:
            return make_error_code(ZORVANE_INVALID_PROTOCOL);
    }
}

std::u16string status_key(const boost::system::error_code& error) {
    switch (error.value()) {
        case 0:
            return u"OK";
        case 2:
            return u"zorvane.kernel.status.out_of_date";
        case 3:
        case 9:
        case 10:
            return u"zorvane.kernel.status.connect_failed";
        case 5:
            return u"zorvane.kernel.status.no_record";
        case 6:
            return u"zorvane.kernel.status.invalid_password";
        case 11:
            return u"zorvane.kernel.status.too_large";
        default:
            return u"zorvane.kernel.status.exception";
    }
}

}  // namespace Core_ZorvaneClient
