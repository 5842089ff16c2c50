// The zorvane program: the host commands, which play the browser. They load
// the component library with the dynamic loader, create the extension object
// through its contract identifier, and drive it the way the browser's
// scripts do: set the data directory and the user, start an action, and pump
// processEvents every few milliseconds until the action's notification
// arrives.
#pragma once

#include <ostream>
#include <string>
#include <vector>

namespace Zorvane_Cli {

// Exit status when no notification arrived before the time-out.
inline constexpr int kExitTimeout = 3;

// True when `name` is one of the host commands.
bool is_host_command(const std::string& name);

// Runs a host command line (`args` are the program's arguments: global
// options, the command and its options, in any order). Writes key=value
// lines to `out` and one-line messages to `err`; reads a password or a note
// from `in`. Returns 0 for "OK", 1 for any other outcome, 2 for a wrong
// command line, 3 on time-out.
int run_host_command(const std::vector<std::string>& args, std::istream& in, std::ostream& out,
                     std::ostream& err);

// The host part of the program's --help.
void print_host_help(std::ostream& out);

}  // namespace Zorvane_Cli
