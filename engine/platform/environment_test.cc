#include "platform/environment.h"

#include <gtest/gtest.h>

#include <cstdlib>

namespace Core_Platform {
namespace {

TEST(Environment, SetAndUnsetVariables) {
    ::setenv("ZORVANE_ENVIRONMENT_TEST", "s3cr\xc3\xa9t value", 1);
    std::string value = "untouched";
    ASSERT_TRUE(environment_value("ZORVANE_ENVIRONMENT_TEST", value));
    EXPECT_EQ(value, "s3cr\xc3\xa9t value");

    ::setenv("ZORVANE_ENVIRONMENT_TEST", "", 1);
    ASSERT_TRUE(environment_value("ZORVANE_ENVIRONMENT_TEST", value));
    EXPECT_EQ(value, "");

    ::unsetenv("ZORVANE_ENVIRONMENT_TEST");
    value = "untouched";
    EXPECT_FALSE(environment_value("ZORVANE_ENVIRONMENT_TEST", value));
    EXPECT_EQ(value, "untouched");
    EXPECT_FALSE(environment_value("", value));
    EXPECT_FALSE(environment_value("A=B", value));
    EXPECT_EQ(value, "untouched");
}

}  // namespace
}  // namespace Core_Platform
