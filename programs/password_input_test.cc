#include "programs/password_input.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <sstream>

namespace Zorvane_Programs {
namespace {

password_result_t read(const std::vector<std::string>& args, const std::string& input,
                       std::string& password) {
    command_line_t line;
    command_line_error_t error;
    const option_set_t set = {{kPasswordEnvOption}, {kPasswordStdinOption}};
    EXPECT_TRUE(parse_command_line(args, set, line, error)) << error.text();
    std::istringstream in(input);
    return read_password(line, in, password);
}

TEST(PasswordInput, FromStandardInputOrTheEnvironment) {
    std::string password = "old";
    EXPECT_TRUE(read({"--password-stdin"}, "p w\r\nnext line\n", password).read());
    EXPECT_EQ(password, "p w");
    EXPECT_TRUE(read({"--password-stdin"}, "\n", password).read());
    EXPECT_EQ(password, "");

    ::setenv("ZV_PASSWORD_INPUT_TEST", "from env", 1);
    EXPECT_TRUE(read({"--password-env", "ZV_PASSWORD_INPUT_TEST"}, "", password).read());
    EXPECT_EQ(password, "from env");
    ::unsetenv("ZV_PASSWORD_INPUT_TEST");
}

TEST(PasswordInput, EveryFailureIsNamed) {
    std::string password = "old";
    auto r = read({"--password-stdin"}, "", password);
    EXPECT_EQ(r.outcome, password_outcome_enum::NO_INPUT);
    EXPECT_EQ(r.message, "no password on standard input");
    EXPECT_EQ(password, "");

    r = read({"--password-env=ZV_PASSWORD_INPUT_UNSET"}, "pw\n", password);
    EXPECT_EQ(r.outcome, password_outcome_enum::NOT_SET);
    EXPECT_EQ(r.message, "environment variable ZV_PASSWORD_INPUT_UNSET is not set");

    r = read({"--password-env", "X", "--password-stdin"}, "pw\n", password);
    EXPECT_EQ(r.outcome, password_outcome_enum::BOTH_GIVEN);
    EXPECT_EQ(r.message, kOnePasswordSource);

    r = read({}, "pw\n", password);
    EXPECT_EQ(r.outcome, password_outcome_enum::NOT_GIVEN);
    EXPECT_EQ(password, "");
}

}  // namespace
}  // namespace Zorvane_Programs
