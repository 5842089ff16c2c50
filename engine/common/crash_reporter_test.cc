#include "common/crash_reporter.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "platform/child_process.h"
#include "platform/temp_dir_testing.h"

namespace Core_Common {
namespace {

namespace fs = std::filesystem;

// A fresh directory per run, removed afterwards.
class scratch_dir : public Core_Platform::testing::temp_dir_t {
public:
    scratch_dir() : temp_dir_t("zorvane_crash") {}
};

std::string read_file(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// The report's text: checks the byte order mark and decodes UTF-16LE (the
// report is ASCII apart from paths and names; others become '?').
std::string read_report(const fs::path& path) {
    const std::string bytes = read_file(path);
    EXPECT_GE(bytes.size(), 2u);
    EXPECT_EQ(bytes.substr(0, 2), std::string("\xFF\xFE"));
    EXPECT_EQ(bytes.size() % 2, 0u);
    std::string text;
    for (std::size_t i = 2; i + 1 < bytes.size(); i += 2) {
        const unsigned cu =
            static_cast<unsigned char>(bytes[i]) | (static_cast<unsigned char>(bytes[i + 1]) << 8);
        text.push_back(cu < 0x80 ? static_cast<char>(cu) : '?');
    }
    return text;
}

Core_Platform::child_result_t run_probe(const scratch_dir& dir, const std::string& scenario) {
    return Core_Platform::run_child_process(ZV_CRASH_PROBE, {scenario}, dir.path().string());
}

bool has(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

// The fault took the course it takes without the reporter: the default
// action (killed by SIGSEGV), or the handler that was there before ours (a
// sanitizer's, which reports and ends the process its own way; when that
// way is abort() on the same thread, the reporter's second-report rule ends
// it with code 100).
void expect_default_course(const Core_Platform::child_result_t& result) {
    if (has(result.output, "Sanitizer")) {
        EXPECT_TRUE(result.signal != 0 || (result.exit_code != 0 && result.exit_code != 3))
            << result.output;
    } else {
        EXPECT_EQ(result.signal, SIGSEGV) << result.output;
    }
}

// The three files exist, the dump and the data file empty.
void expect_report_files(const scratch_dir& dir) {
    ASSERT_TRUE(fs::exists(dir.path() / "CRASH.DMP"));
    ASSERT_TRUE(fs::exists(dir.path() / "CRASHLOG.TXT"));
    ASSERT_TRUE(fs::exists(dir.path() / "CRASHLOG.DAT"));
    EXPECT_EQ(fs::file_size(dir.path() / "CRASH.DMP"), 0u);
    EXPECT_EQ(fs::file_size(dir.path() / "CRASHLOG.DAT"), 0u);
}

TEST(CrashReporterProcess, AccessViolationOnAServiceThread) {
    scratch_dir dir;
    const auto result = run_probe(dir, "read-null");
    ASSERT_TRUE(result.started);
    EXPECT_EQ(result.exit_code, 100) << result.output;
    expect_report_files(dir);
    const std::string report = read_report(dir.path() / "CRASHLOG.TXT");
    EXPECT_EQ(report.rfind("crash_probe caused an Access Violation (0xc0000005) \r\n", 0), 0u)
        << report;
    EXPECT_TRUE(has(report, "\r\nin module crash_probe at 0033:")) << report;
    EXPECT_TRUE(has(report, "\r\nException handler called in Exception_Debuger.\r\n"));
    EXPECT_TRUE(has(report, "\r\nError occurred at "));
    EXPECT_TRUE(has(report, "crash_probe, run by "));
    EXPECT_TRUE(has(report, "\r\nOperating system:  Linux 64-bit ("));
    EXPECT_TRUE(has(report, " processor(s), type 8664.\r\n"));
    EXPECT_TRUE(has(report, "% memory in use.\r\n"));
    EXPECT_TRUE(has(report, "\r\nProcess execute time: 0 day 0:0:"));
    EXPECT_TRUE(has(report, "\r\nSocket init version: n/a\r\n"));
    EXPECT_TRUE(has(report, "\r\npool_block dump:\r\n"));
    EXPECT_TRUE(has(report, "\r\nRead from location 00000000 caused an access violation.\r\n"))
        << report;
    EXPECT_TRUE(has(report, "\r\nContext:\r\nEDI:    0x"));
    EXPECT_TRUE(has(report, "\r\nBytes at CS:EIP:\r\n"));
    EXPECT_FALSE(has(report, "?? ?? ?? ?? ?? ?? ?? ?? ?? ?? ?? ?? ?? ?? ?? ??"))
        << "the faulting instruction's bytes are readable";
    EXPECT_TRUE(has(report, "\r\n\r\nStack: [Ignored]\r\n\r\nModule List: [Ignored]\r\n"));
    EXPECT_TRUE(report.size() > 40 &&
                report.substr(report.size() - 37) == "\r\n===== [end of CRASHLOG.TXT] =====\r\n")
        << report;
    // The helper program beside the executable told where the files are.
    EXPECT_TRUE(has(result.output, "crash_probe stopped after an internal error."))
        << result.output;
    EXPECT_TRUE(has(result.output, (dir.path() / "CRASHLOG.TXT").string())) << result.output;
}

TEST(CrashReporterProcess, WriteFaultNamesTheAddress) {
    scratch_dir dir;
    const auto result = run_probe(dir, "write");
    EXPECT_EQ(result.exit_code, 100) << result.output;
    const std::string report = read_report(dir.path() / "CRASHLOG.TXT");
    EXPECT_TRUE(has(report, "\r\nWrite to location 00000010 caused an access violation.\r\n"))
        << report;
}

TEST(CrashReporterProcess, OtherFatalSignals) {
    const struct {
        const char* scenario;
        const char* first_line;
    } cases[] = {
        {"divide", "crash_probe caused an Integer Divide by Zero (0xc0000094) \r\n"},
        {"abort", "crash_probe caused an Unknown exception type (0x40000015) \r\n"},
        {"overflow", "crash_probe caused a Stack Overflow (0xc00000fd) \r\n"},
    };
    for (const auto& c : cases) {
        scratch_dir dir;
        const auto result = run_probe(dir, c.scenario);
        EXPECT_EQ(result.exit_code, 100) << c.scenario << ": " << result.output;
        expect_report_files(dir);
        const std::string report = read_report(dir.path() / "CRASHLOG.TXT");
        EXPECT_EQ(report.rfind(c.first_line, 0), 0u) << report;
        EXPECT_FALSE(has(report, "caused an access violation"));
    }
}

TEST(CrashReporterProcess, ExceptionEscapingTheCallable) {
    scratch_dir dir;
    const auto result = run_probe(dir, "exception");
    EXPECT_EQ(result.exit_code, 100) << result.output;
    EXPECT_TRUE(has(result.output,
                    "Exception_Debuger: uncaught exception on thread \"SocketOutgoing\": probe"));
    expect_report_files(dir);
    const std::string report = read_report(dir.path() / "CRASHLOG.TXT");
    EXPECT_EQ(report.rfind("crash_probe caused a Microsoft C++ Exception (0xe06d7363) \r\n", 0), 0u)
        << report;
    EXPECT_TRUE(has(report, "\r\nException handler called in Exception_Debuger.\r\n"));
}

TEST(CrashReporterProcess, MainThreadFaultIsNotReported) {
    scratch_dir dir;
    const auto result = run_probe(dir, "main-fault");
    expect_default_course(result);
    EXPECT_FALSE(fs::exists(dir.path() / "CRASHLOG.TXT"));
}

TEST(CrashReporterProcess, SecondReportEndsTheProcessAtOnce) {
    scratch_dir dir;
    const auto result = run_probe(dir, "twice");
    EXPECT_EQ(result.exit_code, 100) << result.output;
    EXPECT_TRUE(has(result.output, "first=1"));
    EXPECT_FALSE(has(result.output, "second returned"));
    // The first report's text file was removed by the probe; the second
    // report wrote nothing.
    EXPECT_FALSE(fs::exists(dir.path() / "CRASHLOG.TXT"));
}

TEST(CrashReporterProcess, UnwritableReportLeavesTheSignalItsCourse) {
    scratch_dir dir;
    fs::create_directory(dir.path() / "CRASHLOG.TXT");  // cannot be opened as a file
    const auto result = run_probe(dir, "read-null");
    expect_default_course(result);
    EXPECT_TRUE(has(result.output, "Error creating exception report")) << result.output;
    EXPECT_FALSE(fs::exists(dir.path() / "CRASHLOG.DAT"));
}

TEST(CrashReporter, FaultContextToException) {
    Core_Platform::fault_context_t fault;
    fault.signal = SIGSEGV;
    fault.signal_code = SEGV_MAPERR;
    fault.from_kernel = true;
    fault.write_access = true;
    fault.fault_address = 0x1234;
    const crash_exception_t e = crash_exception_from_fault(fault);
    EXPECT_EQ(e.code, 0xC0000005u);
    EXPECT_EQ(e.parameter_count, 2u);
    EXPECT_EQ(e.parameters[0], 1u);
    EXPECT_EQ(e.parameters[1], 0x1234u);
    fault.from_kernel = false;  // sent with kill(): there is no faulting address
    EXPECT_EQ(crash_exception_from_fault(fault).parameter_count, 0u);
}

}  // namespace
}  // namespace Core_Common
