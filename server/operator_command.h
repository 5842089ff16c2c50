// Internal to the server: the command line of zorvane-server.
//
//   zorvane-server [--store URL] [--keep-versions N] COMMAND ...
//     serve [OPTIONS]     (serve_command.h)
//     user add NAME    [--password-env VAR | --password-stdin]
//     user passwd NAME [--password-env VAR | --password-stdin]
//     user del NAME
//     user list
//     history USER
//     restore USER VERSION
//     maintenance [on|off]
//
// Passwords never travel on the command line: they come from the named
// environment variable or from the first line of standard input.
#pragma once

#include <iosfwd>
#include <string>
#include <vector>

#include "account_name.h"

namespace Core_Server {

// Exit statuses of the program.
inline constexpr int EXIT_OK = 0;
inline constexpr int EXIT_FAILED = 1;  // the command could not be done
inline constexpr int EXIT_USAGE = 2;   // bad command line or configuration

// Runs the command given by `args` (the arguments after the program's name).
// Results go to `out`, errors to `err` as one line naming the command and the
// reason; `in` supplies a password for --password-stdin. Returns the exit
// status. Not thread-safe (reads the environment).
int run_operator_command(const std::vector<std::string>& args, std::istream& in, std::ostream& out,
                         std::ostream& err);

}  // namespace Core_Server
