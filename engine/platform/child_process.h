// Public engine surface: running a program as a child process and waiting
// for it (for tests and tools; the crash path uses crash_io.h instead).
#pragma once

#include <string>
#include <vector>

namespace Core_Platform {

struct child_result_t {
    bool started = false;  // false: the program could not be run at all
    int exit_code = -1;    // the exit status, or -1 when a signal ended it
    int signal = 0;        // the signal that ended it, or 0
    std::string output;    // its standard output and error, interleaved
};

// Runs `path` with `arguments` (argv[1]…) in `directory`, collects
// everything written to its standard output and error until every process
// holding them has closed them (so programs it starts are waited for too),
// and waits for it to end. Blocks the calling thread.
child_result_t run_child_process(const std::string& path, const std::vector<std::string>& arguments,
                                 const std::string& directory);

}  // namespace Core_Platform
