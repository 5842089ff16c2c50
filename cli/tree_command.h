// The zorvane program: the "tree" command group, for people who need to look
// at or repair bookmark tree documents, and for black-box tests.
#pragma once

#include <ostream>
#include <string>
#include <vector>

namespace Zorvane_Cli {

// Runs "zorvane tree ARGS...": normalize, equal, diff, merge, adopt, url.
// Returns the exit status (arguments.h); results go to `out`, one-line
// messages to `err`. Output files are written whole, and not at all when an
// input is rejected.
int run_tree_command(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);

}  // namespace Zorvane_Cli
