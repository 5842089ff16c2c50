// zorvane-server: see operator_command.h for the commands.
#include <iostream>
#include <string>
#include <vector>

#include "operator_command.h"

int main(int argc, char** argv) {
    std::vector<std::string> args(argv + 1, argv + argc);
    return Core_Server::run_operator_command(args, std::cin, std::cout, std::cerr);
}
