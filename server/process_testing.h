// Test support (test programs only): running a program and collecting its
// exit status and output.
#pragma once

#include <map>
#include <string>
#include <vector>

#include "platform/child_process.h"

namespace Core_Server::testing {

struct process_result_t {
    int status = -1;  // exit status, or 128 + signal
    std::string out;
    std::string err;
};

// Runs `program` with `args`, the current environment changed by `env`
// (an empty value removes the variable), and `input` on its standard input.
inline process_result_t run_process(const std::string& program,
                                    const std::vector<std::string>& args,
                                    const std::map<std::string, std::string>& env = {},
                                    const std::string& input = {}) {
    Core_Platform::child_options_t options;
    options.environment.assign(env.begin(), env.end());
    options.input = input;
    options.separate_error = true;
    Core_Platform::child_result_t child = Core_Platform::run_child_process(program, args, options);
    process_result_t result;
    result.status = child.signal != 0 ? 128 + child.signal : child.exit_code;
    result.out = std::move(child.output);
    result.err = std::move(child.error);
    return result;
}

}  // namespace Core_Server::testing
