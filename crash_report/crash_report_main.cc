// CrashReport: started by a crashed process (argument: its file name), in
// the directory where the process wrote its crash report.
#include <filesystem>
#include <iostream>
#include <system_error>

#include "crash_report_message.h"

int main(int argc, char** argv) {
    const std::string program = argc > 1 ? argv[1] : "";
    std::error_code ec;
    const std::filesystem::path directory = std::filesystem::current_path(ec);
    std::vector<bool> present;
    for (const std::string& name : crash_report::report_file_names()) {
        present.push_back(!ec && std::filesystem::exists(directory / name, ec));
    }
    // The standard error stream: a host's standard output may be read by
    // programs.
    std::cerr << crash_report::compose_message(program, ec ? std::string(".") : directory.string(),
                                               present);
    return 0;
}
