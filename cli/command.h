// The zorvane program: what every command group provides, and the dispatch
// from the command line to the groups.
#pragma once

#include <ostream>
#include <string>
#include <vector>

namespace Zorvane_Cli {

// One command group ("tree", later "store" and the host actions). `run`
// receives the arguments after the group's name and returns the exit status;
// it writes results to `out` and one-line messages to `err`.
struct command_group_t {
    const char* name;
    const char* summary;  // one line for the program's --help
    int (*run)(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);
};

// The whole program: `args` are the arguments after the program name.
int run_zorvane(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);

}  // namespace Zorvane_Cli
