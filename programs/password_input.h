// Shared by the programs: reading a password the way every program takes
// one. A password is never taken on the command line; "--password-env VAR"
// names an environment variable that holds it, "--password-stdin" reads it
// from the first line of standard input (a "\r" before the line's end is
// not part of it).
#pragma once

#include <istream>
#include <string>

#include "programs/command_line.h"

namespace Zorvane_Programs {

inline constexpr const char* kPasswordEnvOption = "--password-env";  // takes VAR
inline constexpr const char* kPasswordStdinOption = "--password-stdin";

// What a program says when both, or neither, of the options are given where
// exactly one is needed.
inline constexpr const char* kOnePasswordSource =
    "give exactly one of --password-env VAR and --password-stdin";

enum class password_outcome_enum {
    READ,        // the password was read (it may be empty)
    NOT_GIVEN,   // neither option was given; the password is left empty
    BOTH_GIVEN,  // both options were given; nothing was read
    NOT_SET,     // the environment variable is not set
    NO_INPUT,    // standard input ended before a line
};

struct password_result_t {
    password_outcome_enum outcome = password_outcome_enum::NOT_GIVEN;
    std::string message;  // one line for anything but READ and NOT_GIVEN

    bool read() const { return outcome == password_outcome_enum::READ; }
};

// Reads the password that `line`'s options point to, from the environment or
// from `in`, into `password`. Each program decides what an outcome other
// than READ means for its exit status.
password_result_t read_password(const command_line_t& line, std::istream& in,
                                std::string& password);

}  // namespace Zorvane_Programs
