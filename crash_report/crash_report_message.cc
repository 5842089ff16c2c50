#include "crash_report_message.h"

namespace crash_report {

const std::vector<std::string>& report_file_names() {
    static const std::vector<std::string> names = {"CRASH.DMP", "CRASHLOG.TXT", "CRASHLOG.DAT"};
    return names;
}

std::string compose_message(const std::string& program, const std::string& directory,
                            const std::vector<bool>& present) {
    const std::string who = program.empty() ? std::string("A Zorvane program") : program;
    std::string text = who + " stopped after an internal error.\n";
    std::string found;
    for (std::size_t i = 0; i < report_file_names().size(); ++i) {
        if (i < present.size() && present[i]) {
            std::string path = directory;
            if (!path.empty() && path.back() != '/') path += '/';
            found += "  " + path + report_file_names()[i] + "\n";
        }
    }
    if (found.empty()) {
        text += "No crash report was found in " + directory + ".\n";
        return text;
    }
    text += "A crash report was written to:\n" + found;
    text +=
        "Please send these files to the Zorvane team, with a few words about what the "
        "program was doing.\n";
    return text;
}

}  // namespace crash_report
