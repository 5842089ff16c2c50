#include "platform/process.h"

#include <gtest/gtest.h>

namespace Core_Platform {
namespace {

TEST(ProcessDeathTest, ExitProcessEndsWithTheCodeAfterTheLine) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(
        {
            write_stderr_line("last words");
            exit_process(100);
        },
        ::testing::ExitedWithCode(100), "last words");
}

}  // namespace
}  // namespace Core_Platform
