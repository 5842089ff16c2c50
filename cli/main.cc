// The zorvane command-line program.
#include <iostream>
#include <string>
#include <vector>

#include "command.h"

int main(int argc, char** argv) {
    std::vector<std::string> args(argv + 1, argv + argc);
    int status = Zorvane_Cli::run_zorvane(args, std::cout, std::cerr);
    std::cout.flush();
    return status;
}
