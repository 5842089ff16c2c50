// Shared by the programs (zorvane, zorvane-server, zorvane-native-host):
// splitting a command line into options and operands, the same way in each.
//
// An argument that starts with "-" (a lone "-" excepted) is an option. An
// option that takes a value takes it from the next argument or after "="
// ("--store URL", "--store=URL"). "--help" and "-h" ask for help and end the
// parsing. A lone "--" ends the options: everything after it is an operand.
#pragma once

#include <string>
#include <utility>
#include <vector>

namespace Zorvane_Programs {

// The options a command line may hold, written with their dashes.
struct option_set_t {
    std::vector<std::string> values;  // options that take a value
    std::vector<std::string> flags;   // options that take none
    bool stop_at_operand = false;     // the first operand and all after it are operands
    bool once = false;                // an option that takes a value is given at most once
};

struct command_line_t {
    std::vector<std::string> operands;  // in order
    // The options in the order given; a flag with an empty value.
    std::vector<std::pair<std::string, std::string>> options;
    bool help = false;  // "--help" or "-h" was given

    // Whether `name` was given.
    bool has(const std::string& name) const;
    // The value `name` was given last; empty when it was not given.
    std::string value(const std::string& name) const;
};

enum class command_line_fault_enum {
    NONE,
    UNKNOWN_OPTION,  // not one of the set (or a flag given a value with "=")
    MISSING_VALUE,   // the last argument, an option that takes a value
    REPEATED,        // a value option given twice, where the set says once
};

struct command_line_error_t {
    command_line_fault_enum fault = command_line_fault_enum::NONE;
    std::string argument;  // the argument at fault, or the option's name

    // One line without the program's name, the argument in `quote`s where
    // it is one: "unknown option "--x"", "--store needs a value". A password
    // given on the command line ("--password") is answered with where the
    // programs take one instead.
    std::string text(char quote = '"') const;
};

// Splits `args` (the arguments after the program's or command's name) by
// `set` into `out`. Returns false, with the fault in `error`, at the first
// argument that does not fit; `out` then holds what came before it.
bool parse_command_line(const std::vector<std::string>& args, const option_set_t& set,
                        command_line_t& out, command_line_error_t& error);

}  // namespace Zorvane_Programs
