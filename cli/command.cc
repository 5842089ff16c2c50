#include "command.h"

#include <string>

#include "arguments.h"
#include "store_command.h"
#include "tree_command.h"

namespace Zorvane_Cli {
namespace {

const command_group_t kGroups[] = {
    {"tree", "look at, compare, merge and repair bookmark tree documents", &run_tree_command},
    {"store", "look into the local data files of a data directory", &run_store_command},
};

void print_help(std::ostream& out) {
    out << "Usage: zorvane COMMAND [ARGUMENTS...]\n"
           "\n"
           "Tools of the Zorvane bookmark-sync engine.\n"
           "\n"
           "Commands:\n";
    for (const command_group_t& g : kGroups) {
        const std::string name = g.name;
        out << "  " << name << std::string(name.size() < 8 ? 8 - name.size() : 1, ' ') << g.summary
            << "\n";
    }
    out << "\n"
           "Run 'zorvane COMMAND --help' for the command's own usage.\n"
           "Exit status: 0 success, 1 failure, 2 wrong usage.\n";
}

}  // namespace

int run_zorvane(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
    if (args.empty()) {
        err << "zorvane: missing command (try 'zorvane --help')\n";
        return kExitUsage;
    }
    const std::string& first = args[0];
    if (first == "--help" || first == "-h") {
        print_help(out);
        return kExitOk;
    }
    for (const command_group_t& g : kGroups) {
        if (first == g.name)
            return g.run(std::vector<std::string>(args.begin() + 1, args.end()), out, err);
    }
    err << "zorvane: unknown command '" << first << "' (try 'zorvane --help')\n";
    return kExitUsage;
}

}  // namespace Zorvane_Cli
