// The zorvane program: the "store" command group, for people who need to look
// into the local data files the engine keeps in a data directory.
#pragma once

#include <istream>
#include <ostream>
#include <string>
#include <vector>

namespace Zorvane_Cli {

// Runs "zorvane store ARGS..." with the password read, when asked for with
// --password-stdin, from the standard input. Returns the exit status
// (arguments.h); results go to `out`, one-line messages to `err`.
int run_store_command(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);

// The same with the password input given (for tests and embedding hosts).
int run_store_command(const std::vector<std::string>& args, std::istream& in, std::ostream& out,
                      std::ostream& err);

}  // namespace Zorvane_Cli
