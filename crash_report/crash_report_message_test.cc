#include "crash_report_message.h"

#include <gtest/gtest.h>

namespace {

TEST(CrashReportMessage, ListsTheFilesFound) {
    const std::string text =
        crash_report::compose_message("zorvane", "/tmp/run", {true, true, false});
    EXPECT_EQ(text,
              "zorvane stopped after an internal error.\n"
              "A crash report was written to:\n"
              "  /tmp/run/CRASH.DMP\n"
              "  /tmp/run/CRASHLOG.TXT\n"
              "Please send these files to the Zorvane team, with a few words about what the "
              "program was doing.\n");
}

TEST(CrashReportMessage, SaysSoWhenThereIsNoReport) {
    const std::string text = crash_report::compose_message("", "/tmp/run/", {false, false, false});
    EXPECT_EQ(text,
              "A Zorvane program stopped after an internal error.\n"
              "No crash report was found in /tmp/run/.\n");
}

}  // namespace
