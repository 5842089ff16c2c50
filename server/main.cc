// zorvane-server: see operator_command.h for the commands.
#include <iostream>
#include <string>
#include <vector>

#include "operator_command.h"
#include "platform/huge_pages.h"

int main(int argc, char** argv) {
    Core_Platform::start_with_huge_pages(argv);
    std::vector<std::string> args(argv + 1, argv + argc);
    return Core_Server::run_operator_command(args, std::cin, std::cout, std::cerr);
}
