#include "programs/command_line.h"

#include <gtest/gtest.h>

namespace Zorvane_Programs {
namespace {

const option_set_t kSet = {{"--store", "--user"}, {"--log"}};

TEST(CommandLine, ValuesFlagsAndOperandsInAnyOrder) {
    command_line_t line;
    command_line_error_t error;
    ASSERT_TRUE(parse_command_line(
        {"sync", "--store", "a", "--log", "-", "--user=b=c", "--store=", "--", "--log"}, kSet, line,
        error));
    EXPECT_EQ(line.operands, (std::vector<std::string>{"sync", "-", "--log"}));
    EXPECT_TRUE(line.has("--log"));
    EXPECT_TRUE(line.has("--store"));
    EXPECT_EQ(line.value("--store"), "");  // the last one given wins
    EXPECT_EQ(line.value("--user"), "b=c");
    EXPECT_FALSE(line.has("--other"));
    EXPECT_FALSE(line.help);
    EXPECT_EQ(error.fault, command_line_fault_enum::NONE);
}

TEST(CommandLine, StopsAtHelpOrAtTheFirstOperandWhenAsked) {
    command_line_t line;
    command_line_error_t error;
    ASSERT_TRUE(parse_command_line({"--log", "-h", "--nope"}, kSet, line, error));
    EXPECT_TRUE(line.help);

    option_set_t leading = kSet;
    leading.stop_at_operand = true;
    ASSERT_TRUE(parse_command_line({"--store", "s", "user", "--nope", "x"}, leading, line, error));
    EXPECT_EQ(line.value("--store"), "s");
    EXPECT_EQ(line.operands, (std::vector<std::string>{"user", "--nope", "x"}));
}

TEST(CommandLine, FaultsNameTheArgument) {
    command_line_t line;
    command_line_error_t error;
    EXPECT_FALSE(parse_command_line({"--nope", "x"}, kSet, line, error));
    EXPECT_EQ(error.fault, command_line_fault_enum::UNKNOWN_OPTION);
    EXPECT_EQ(error.text(), "unknown option \"--nope\"");
    EXPECT_EQ(error.text('\''), "unknown option '--nope'");

    EXPECT_FALSE(parse_command_line({"--log=1"}, kSet, line, error));
    EXPECT_EQ(error.text(), "unknown option \"--log=1\"");

    EXPECT_FALSE(parse_command_line({"x", "--store"}, kSet, line, error));
    EXPECT_EQ(error.fault, command_line_fault_enum::MISSING_VALUE);
    EXPECT_EQ(error.text(), "--store needs a value");
    EXPECT_EQ(line.operands, (std::vector<std::string>{"x"}));

    option_set_t once = kSet;
    once.once = true;
    EXPECT_FALSE(parse_command_line({"--user", "a", "--user=b"}, once, line, error));
    EXPECT_EQ(error.text(), "--user given twice");
    EXPECT_TRUE(parse_command_line({"--user", "a", "--user=b"}, kSet, line, error));

    // No program takes a password on its command line; the refusal says
    // what to do instead.
    EXPECT_FALSE(parse_command_line({"--password", "secret"}, kSet, line, error));
    EXPECT_NE(error.text().find("--password-env VAR or --password-stdin"), std::string::npos);
    EXPECT_EQ(error.text().find("secret"), std::string::npos);
}

}  // namespace
}  // namespace Zorvane_Programs
