#include "common/service_error.h"

#include <gtest/gtest.h>

#include <thread>
#include <vector>

namespace Core_Common {
namespace {

TEST(ServiceNames, BuiltInTableBothWays) {
    const char* expected[] = {
        "OK",
        "MAINTENANCE",
        "BUSY",
        "CONNECT_FAILED",
        "PROTOCOL_ERROR",
        "EXCEPTION",
        "NO_RECORD",
        "SITE_AUTH_FAILED",
        "USERNAME_INVALID",
        "USERNAME_EXISTED",
        "EMAIL_INVALID",
        "EMAIL_EXISTED",
        "PASSWORD_INVALID",
        "INVALID_PASSWORD",
        "INVALID_SECURITY_ANSWER",
        "INVALID_VERIFICATION_STRING",
        "GENERATED_RECENTLY",
        "INVALID_PASSWORD_NEED_VALIDATECODE",
        "NEED_VALIDATECODE",
        "OUT_OF_DATE",
        "INVALID_SESSION",
        "POLICY",
        "SUPERVISE",
        "ACCESS_DENIED",
    };
    for (std::int32_t code = 0; code < 24; ++code) {
        EXPECT_EQ(service_code_from_name(expected[code]), code) << expected[code];
        EXPECT_EQ(service_name_from_code(code), expected[code]);
    }
    EXPECT_EQ(service_name_from_code(24), "");
}

TEST(ServiceNames, UnknownNamesAreProtocolErrors) {
    EXPECT_EQ(service_code_from_name("ok"), SERVICE_PROTOCOL_ERROR);
    EXPECT_EQ(service_code_from_name(""), SERVICE_PROTOCOL_ERROR);
    EXPECT_EQ(service_code_from_name("OK "), SERVICE_PROTOCOL_ERROR);
    EXPECT_EQ(service_code_from_name(std::string_view("OK\0", 3)), SERVICE_PROTOCOL_ERROR);
}

TEST(ServiceNames, AddedNameIsKnownFromThenOn) {
    EXPECT_EQ(service_code_from_name("INVALID_VERSION"), SERVICE_PROTOCOL_ERROR);
    EXPECT_EQ(service_name_from_code(SERVICE_INVALID_VERSION), "");
    add_service_name(SERVICE_INVALID_VERSION, "INVALID_VERSION");
    EXPECT_EQ(service_code_from_name("INVALID_VERSION"), INT32_MIN);
    EXPECT_EQ(service_name_from_code(INT32_MIN), "INVALID_VERSION");
}

TEST(ServiceNames, ConcurrentLookupsAndAdditions) {
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([t] {
            for (int i = 0; i < 500; ++i) {
                if (t == 0) {
                    add_service_name(1000 + i, "EXTRA_" + std::to_string(i));
                }
                EXPECT_EQ(service_code_from_name("BUSY"), SERVICE_BUSY);
            }
        });
    }
    for (auto& th : threads) {
        th.join();
    }
    EXPECT_EQ(service_code_from_name("EXTRA_499"), 1499);
}

TEST(ServiceError, DefaultIsSuccess) {
    service_error_t result;
    EXPECT_EQ(result.code, 0);
    EXPECT_TRUE(result.message.empty());
    EXPECT_FALSE(result.is_error());
    result.code = SERVICE_BUSY;
    EXPECT_TRUE(result.is_error());
}

}  // namespace
}  // namespace Core_Common
