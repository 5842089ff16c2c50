// The message of the CrashReport helper program.
//
// A process whose service thread crashed writes "CRASH.DMP", "CRASHLOG.TXT"
// and "CRASHLOG.DAT" into its current directory and starts CrashReport there
// with its own file name as the only argument. The helper tells the person
// what happened and where the files are.
#pragma once

#include <string>
#include <vector>

namespace crash_report {

// The report files, in the order they are listed.
const std::vector<std::string>& report_file_names();

// The message for a crash of `program` (empty: not known) with the report
// files found in `directory`: `present` holds, for each of
// report_file_names(), whether it exists. Lines end with "\n".
std::string compose_message(const std::string& program, const std::string& directory,
                            const std::vector<bool>& present);

}  // namespace crash_report
