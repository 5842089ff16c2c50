#include "sync_client/zorvane_error.h"

#include <gtest/gtest.h>

namespace Core_ZorvaneClient {
namespace {

using boost::system::error_code;

TEST(ZorvaneCategory, NameAndMessages) {
    const boost::system::error_category& cat = zorvane_category_instance();
    EXPECT_EQ(&cat, &zorvane_category_instance());
    EXPECT_STREQ(cat.name(), "zorvane");
    EXPECT_EQ(cat.message(1), "zorvane server maintenance");
    EXPECT_EQ(cat.message(2), "zorvane client out of date version");
    EXPECT_EQ(cat.message(3), "zorvane invalid protocol");
    EXPECT_EQ(cat.message(4), "zorvane server exception");
    EXPECT_EQ(cat.message(5), "zorvane not found");
    EXPECT_EQ(cat.message(6), "zorvane invalid password");
    EXPECT_EQ(cat.message(7), "zorvane invalid version");
    EXPECT_EQ(cat.message(8), "zorvane invalid bookmark");
    EXPECT_EQ(cat.message(9), "zorvane not Loginned");
    EXPECT_EQ(cat.message(10), "zorvane unkown error");
    EXPECT_EQ(cat.message(11), "zorvane bookmark tree too large");
    EXPECT_EQ(cat.message(12), "zorvane unkown error");
    EXPECT_EQ(cat.message(0), "zorvane unkown error");
    EXPECT_EQ(cat.message(-1), "zorvane unkown error");

    error_code ec = ZORVANE_NOT_FOUND;  // through is_error_code_enum
    EXPECT_EQ(ec.value(), 5);
    EXPECT_EQ(&ec.category(), &cat);
    EXPECT_EQ(ec.message(), "zorvane not found");
}

error_code from(std::int32_t code) {
    Core_Common::service_error_t result;
    result.code = code;
    result.message = u"ignored";
    return client_error_from_service(result);
}

TEST(ClientErrorFromService, MapsByCodeIntoTheCategory) {
    EXPECT_EQ(from(Core_Common::SERVICE_MAINTENANCE).value(), 1);
    EXPECT_EQ(from(Core_Common::SERVICE_EXCEPTION).value(), 4);
    EXPECT_EQ(from(Core_Common::SERVICE_POLICY).value(), 4);
    EXPECT_EQ(from(Core_Common::SERVICE_NO_RECORD).value(), 5);
    EXPECT_EQ(from(Core_Common::SERVICE_INVALID_PASSWORD).value(), 6);
    EXPECT_EQ(from(Core_Common::SERVICE_OUT_OF_DATE).value(), 2);
    EXPECT_EQ(from(INT32_MIN).value(), 7);
    for (std::int32_t other : {0, 2, 3, 4, 7, 12, 20, 23, 24, 99, -5}) {
        EXPECT_EQ(from(other).value(), 3) << other;
    }
    EXPECT_EQ(&from(1).category(), &zorvane_category_instance());
}

TEST(StatusKey, ByValueAlone) {
    EXPECT_EQ(status_key(error_code()), u"OK");
    EXPECT_EQ(status_key(make_error_code(ZORVANE_SERVER_MAINTENANCE)),
              u"zorvane.kernel.status.exception");
    EXPECT_EQ(status_key(make_error_code(ZORVANE_OUT_OF_DATE)),
              u"zorvane.kernel.status.out_of_date");
    EXPECT_EQ(status_key(make_error_code(ZORVANE_INVALID_PROTOCOL)),
              u"zorvane.kernel.status.connect_failed");
    EXPECT_EQ(status_key(make_error_code(ZORVANE_SERVER_EXCEPTION)),
              u"zorvane.kernel.status.exception");
    EXPECT_EQ(status_key(make_error_code(ZORVANE_NOT_FOUND)), u"zorvane.kernel.status.no_record");
    EXPECT_EQ(status_key(make_error_code(ZORVANE_INVALID_PASSWORD)),
              u"zorvane.kernel.status.invalid_password");
    EXPECT_EQ(status_key(make_error_code(ZORVANE_INVALID_VERSION)),
              u"zorvane.kernel.status.exception");
    EXPECT_EQ(status_key(make_error_code(ZORVANE_INVALID_BOOKMARK)),
              u"zorvane.kernel.status.exception");
    EXPECT_EQ(status_key(make_error_code(ZORVANE_NOT_LOGGED_IN)),
              u"zorvane.kernel.status.connect_failed");
    EXPECT_EQ(status_key(make_error_code(ZORVANE_TRANSPORT_FAILED)),
              u"zorvane.kernel.status.connect_failed");
    // The category is not consulted: a system error of value 5 reads as 5.
    EXPECT_EQ(status_key(error_code(5, boost::system::system_category())),
              u"zorvane.kernel.status.no_record");
    EXPECT_EQ(status_key(make_error_code(ZORVANE_TREE_TOO_LARGE)),
              u"zorvane.kernel.status.too_large");
    EXPECT_EQ(status_key(error_code(12, zorvane_category_instance())),
              u"zorvane.kernel.status.exception");
}

TEST(ClientErrorFromService, BusyReplyEndsAsConnectFailed) {
    Core_Common::service_error_t busy;
    busy.code = Core_Common::service_code_from_name("BUSY");
    const error_code ec = client_error_from_service(busy);
    EXPECT_EQ(ec.value(), 3);
    EXPECT_EQ(status_key(ec), u"zorvane.kernel.status.connect_failed");
}

}  // namespace
}  // namespace Core_ZorvaneClient
