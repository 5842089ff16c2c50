// The zorvane program: splitting a command line into options and operands,
// shared by every command group.
#pragma once

#include <string>
#include <vector>

namespace Zorvane_Cli {

// Exit statuses of every command.
inline constexpr int kExitOk = 0;
inline constexpr int kExitFailure = 1;  // the command ran and failed (bad input, a file error)
inline constexpr int kExitUsage = 2;    // the command line itself is wrong

struct arguments_t {
    std::vector<std::string> operands;  // in order
    std::vector<std::string> options;   // long options given, without duplicates
    bool help = false;                  // "--help" or "-h" was given

    bool has(const std::string& option) const;
};

// Splits `args` into operands and options, the way every program does
// (programs/command_line.h), for a command whose options are flags: "--help"
// and "-h" set `help` (and end the parsing); every other option must be one
// of `known` (written with its dashes, e.g. "--skip-deletes"). A lone "--"
// ends the options; everything after it is an operand. Returns false, with a
// one-line reason in `error`, for an unknown option.
bool parse_arguments(const std::vector<std::string>& args, const std::vector<std::string>& known,
                     arguments_t& out, std::string& error);

}  // namespace Zorvane_Cli
