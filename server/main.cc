// zorvane-server: see operator_command.h for the commands.
#include <malloc.h>

#include <iostream>
#include <string>
#include <vector>

#include "operator_command.h"
#include "platform/huge_pages.h"

int main(int argc, char** argv) {
    Core_Platform::start_with_huge_pages(argv);
    // A large account's request, its tree and the reply are each up to tens
    // of megabytes, handled on several threads. The C library raises its
    // threshold for mapping large blocks separately each time such a block
    // is freed; later ones then stay in the heaps of the threads after use,
    // and a long-running server would keep the memory of every large request
    // it ever served. A fixed threshold returns each to the system when
    // freed.
    mallopt(M_MMAP_THRESHOLD, 1 << 20);
    std::vector<std::string> args(argv + 1, argv + argc);
    return Core_Server::run_operator_command(args, std::cin, std::cout, std::cerr);
}
