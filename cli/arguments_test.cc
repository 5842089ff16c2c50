#include "arguments.h"

#include <gtest/gtest.h>

namespace Zorvane_Cli {
namespace {

TEST(ParseArguments, OperandsOptionsAndHelp) {
    arguments_t a;
    std::string error;
    ASSERT_TRUE(parse_arguments({"x", "--flag", "y", "--flag", "-h"}, {"--flag"}, a, error));
    EXPECT_EQ(a.operands, (std::vector<std::string>{"x", "y"}));
    EXPECT_EQ(a.options, (std::vector<std::string>{"--flag"}));
    EXPECT_TRUE(a.has("--flag"));
    EXPECT_TRUE(a.help);
}

TEST(ParseArguments, DoubleDashEndsOptionsAndLoneDashIsAnOperand) {
    arguments_t a;
    std::string error;
    ASSERT_TRUE(parse_arguments({"--", "--help", "-"}, {}, a, error));
    EXPECT_EQ(a.operands, (std::vector<std::string>{"--help", "-"}));
    EXPECT_FALSE(a.help);
}

TEST(ParseArguments, UnknownOptionIsRefused) {
    arguments_t a;
    std::string error;
    EXPECT_FALSE(parse_arguments({"--nope"}, {"--yes"}, a, error));
    EXPECT_EQ(error, "unknown option '--nope'");
}

}  // namespace
}  // namespace Zorvane_Cli
