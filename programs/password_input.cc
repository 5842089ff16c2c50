#include "programs/password_input.h"

#include "platform/environment.h"

namespace Zorvane_Programs {

password_result_t read_password(const command_line_t& line, std::istream& in,
                                std::string& password) {
    password_result_t result;
    password.clear();
    const bool from_env = line.has(kPasswordEnvOption);
    const bool from_stdin = line.has(kPasswordStdinOption);
    if (from_env && from_stdin) {
        result.outcome = password_outcome_enum::BOTH_GIVEN;
        result.message = kOnePasswordSource;
        return result;
    }
    if (from_env) {
        const std::string variable = line.value(kPasswordEnvOption);
        if (!Core_Platform::environment_value(variable, password)) {
            result.outcome = password_outcome_enum::NOT_SET;
            result.message = "environment variable " + variable + " is not set";
            return result;
        }
    } else if (from_stdin) {
        if (!std::getline(in, password)) {
            password.clear();
            result.outcome = password_outcome_enum::NO_INPUT;
            result.message = "no password on standard input";
            return result;
        }
        if (!password.empty() && password.back() == '\r') password.pop_back();
    } else {
        return result;
    }
    result.outcome = password_outcome_enum::READ;
    return result;
}

}  // namespace Zorvane_Programs
