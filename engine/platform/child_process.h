// Public engine surface: running a program as a child process and waiting
// for it (for tests, benches and tools; the crash path uses crash_io.h
// instead).
#pragma once

#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace Core_Platform {

// How the child runs; the defaults inherit the caller's.
struct child_options_t {
    std::string directory;  // its working directory; empty: the caller's
    // Changes to the caller's environment, in order: a name and its value,
    // or a name and an empty value to remove the variable.
    std::vector<std::pair<std::string, std::string>> environment;
    // Written to its standard input, which is closed afterwards (so an empty
    // text is an input that ends at once); without one, it shares the
    // caller's standard input.
    std::optional<std::string> input;
    // Its standard error collected in `error`, apart from its output,
    // rather than interleaved with it.
    bool separate_error = false;
};

struct child_result_t {
    bool started = false;    // false: the program could not be run at all
    int exit_code = -1;      // the exit status, or -1 when a signal ended it
    int signal = 0;          // the signal that ended it, or 0
    std::string output;      // its standard output (and error, unless separate)
    std::string error;       // its standard error, with separate_error
    double cpu_seconds = 0;  // user and system time it used
    long max_rss_kb = 0;     // its largest resident size, in KiB
};

// Runs `path` with `arguments` (argv[1]…) as `options` say, collects
// everything written to its standard output and error until every process
// holding them has closed them (so programs it starts are waited for too),
// and waits for it to end. A child that does not read all of its input
// does not stop the caller (no SIGPIPE reaches it). Blocks the calling
// thread.
child_result_t run_child_process(const std::string& path, const std::vector<std::string>& arguments,
                                 const child_options_t& options);

// The same in `directory`, with the caller's environment and standard input,
// its output and error interleaved.
child_result_t run_child_process(const std::string& path, const std::vector<std::string>& arguments,
                                 const std::string& directory);

}  // namespace Core_Platform
