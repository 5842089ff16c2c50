// The zorvane command-line program.
#include <malloc.h>

#include <iostream>
#include <string>
#include <vector>

#include "command.h"
#include "platform/huge_pages.h"

int main(int argc, char** argv) {
    Core_Platform::start_with_huge_pages(argv);
    // A sync handles several forms of the tree at a time, each of them up to
    // tens of megabytes for a large bookmark collection. By default the C
    // library raises its threshold for mapping large blocks separately each
    // time such a block is freed, and later ones then stay in the heap after
    // use: the program keeps the memory of every form it ever held. A fixed
    // threshold returns each large block to the system when it is freed.
    mallopt(M_MMAP_THRESHOLD, 1 << 20);
    std::vector<std::string> args(argv + 1, argv + argc);
    int status = Zorvane_Cli::run_zorvane(args, std::cout, std::cerr);
    std::cout.flush();
    return status;
}
