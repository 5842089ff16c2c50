#include "platform/host_process.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <string>
#include <vector>

namespace Core_Platform {
namespace {

TEST(LogPathForExecutable, WindowsPaths) {
    EXPECT_EQ(log_path_for_executable("C:\\Program Files\\Browser\\browser.exe"),
              "C:\\Program Files\\Browser\\browser.log");
    // Forward slashes become backslashes.
    EXPECT_EQ(log_path_for_executable("C:/Program Files/Browser/browser.exe"),
              "C:\\Program Files\\Browser\\browser.log");
    // Long-path prefixes are removed, the UNC one leaves the double backslash.
    EXPECT_EQ(log_path_for_executable("\\\\?\\C:\\Browser\\browser.exe"),
              "C:\\Browser\\browser.log");
    EXPECT_EQ(log_path_for_executable("\\\\?\\UNC\\server\\share\\browser.exe"),
              "\\\\server\\share\\browser.log");
    EXPECT_EQ(log_path_for_executable("\\\\server\\share\\browser.exe"),
              "\\\\server\\share\\browser.log");
    // Only the final component's extension is replaced.
    EXPECT_EQ(log_path_for_executable("C:\\My.Apps\\browser"), "C:\\My.Apps\\browser.log");
    EXPECT_EQ(log_path_for_executable("C:\\Apps\\browser.v2.exe"), "C:\\Apps\\browser.v2.log");
    EXPECT_EQ(log_path_for_executable("C:browser.exe"), "C:browser.log");
}

TEST(LogPathForExecutable, PosixPathsStayBesideTheExecutable) {
    EXPECT_EQ(log_path_for_executable("/opt/browser/browser.bin"), "/opt/browser/browser.log");
    EXPECT_EQ(log_path_for_executable("/usr/bin/browser"), "/usr/bin/browser.log");
    // A directory with a dot does not lend its extension to the name.
    EXPECT_EQ(log_path_for_executable("/opt/browser.d/browser"), "/opt/browser.d/browser.log");
    // A leading dot is part of the name, not an extension.
    EXPECT_EQ(log_path_for_executable("/tmp/.hidden"), "/tmp/.hidden.log");
    // A backslash is an ordinary character of a POSIX name.
    EXPECT_EQ(log_path_for_executable("/tmp/odd\\name.exe"), "/tmp/odd\\name.log");
    EXPECT_EQ(log_path_for_executable("browser.exe"), "browser.log");
    EXPECT_EQ(log_path_for_executable(""), "");
}

TEST(HostExecutablePath, RealPathAndOverride) {
    const std::string real = host_executable_path();
    ASSERT_FALSE(real.empty());
    EXPECT_EQ(real.front(), '/');
    EXPECT_EQ(access(real.c_str(), X_OK), 0) << real;
    EXPECT_NE(real.find("platform_test"), std::string::npos) << real;

    override_host_executable_path("/somewhere/else/host.exe");
    EXPECT_EQ(host_executable_path(), "/somewhere/else/host.exe");
    override_host_executable_path("");
    EXPECT_EQ(host_executable_path(), real);
}

TEST(MessageBox, HookReceivesTextAndStderrGetsTheLine) {
    std::vector<std::u16string> seen;
    set_message_box_hook([&seen](std::u16string_view text) { seen.emplace_back(text); });
    testing::internal::CaptureStderr();
    show_message_box(u"NOT ENABLE_WIRE_SOCKET_THREAD Error!");
    const std::string err = testing::internal::GetCapturedStderr();
    set_message_box_hook(nullptr);
    show_message_box(u"after the hook was removed");

    ASSERT_EQ(seen.size(), 1u);
    EXPECT_EQ(seen[0], u"NOT ENABLE_WIRE_SOCKET_THREAD Error!");
    EXPECT_EQ(err, "NOT ENABLE_WIRE_SOCKET_THREAD Error!\n");
}

}  // namespace
}  // namespace Core_Platform
