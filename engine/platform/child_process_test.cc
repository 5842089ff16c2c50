#include "platform/child_process.h"

#include <gtest/gtest.h>
#include <signal.h>

namespace Core_Platform {
namespace {

TEST(ChildProcess, CollectsOutputAndExitStatus) {
    const child_result_t r =
        run_child_process("/bin/sh", {"-c", "echo out; echo err >&2; pwd; exit 7"}, "/tmp");
    EXPECT_TRUE(r.started);
    EXPECT_EQ(r.exit_code, 7);
    EXPECT_EQ(r.signal, 0);
    EXPECT_EQ(r.output, "out\nerr\n/tmp\n");
}

TEST(ChildProcess, ReportsTheEndingSignal) {
    const child_result_t r = run_child_process("/bin/sh", {"-c", "kill -SEGV $$"}, "/");
    EXPECT_TRUE(r.started);
    EXPECT_EQ(r.exit_code, -1);
    EXPECT_EQ(r.signal, SIGSEGV);
}

TEST(ChildProcess, WaitsForWhatItsChildLeftRunning) {
    const child_result_t r =
        run_child_process("/bin/sh", {"-c", "(sleep 0.2; echo late) & echo early"}, "/");
    EXPECT_EQ(r.exit_code, 0);
    EXPECT_EQ(r.output, "early\nlate\n");
}

TEST(ChildProcess, TakesInputAnEnvironmentAndKeepsErrorApart) {
    ::setenv("ZV_CHILD_TEST_REMOVED", "there", 1);
    child_options_t options;
    options.environment = {{"ZV_CHILD_TEST_SET", "v a l"}, {"ZV_CHILD_TEST_REMOVED", ""}};
    options.input = std::string("first line\nsecond\n");
    options.separate_error = true;
    const child_result_t r = run_child_process(
        "/bin/sh",
        {"-c",
         "read line; echo \"$line|$ZV_CHILD_TEST_SET|${ZV_CHILD_TEST_REMOVED-unset}\"; "
         "echo oops >&2; cat"},
        options);
    ::unsetenv("ZV_CHILD_TEST_REMOVED");
    EXPECT_EQ(r.exit_code, 0);
    EXPECT_EQ(r.output, "first line|v a l|unset\nsecond\n");
    EXPECT_EQ(r.error, "oops\n");
}

// Input larger than a pipe holds, which the child never reads: the caller
// neither blocks nor dies of SIGPIPE.
TEST(ChildProcess, InputTheChildLeavesUnreadIsDropped) {
    child_options_t options;
    options.input = std::string(1 << 20, 'x');
    const child_result_t r = run_child_process("/bin/sh", {"-c", "exit 3"}, options);
    EXPECT_EQ(r.exit_code, 3);
    options.input = std::string();
    const child_result_t empty = run_child_process("/bin/sh", {"-c", "cat; echo end"}, options);
    EXPECT_EQ(empty.output, "end\n");
}

TEST(ChildProcess, MissingProgram) {
    const child_result_t r = run_child_process("/nonexistent/program", {}, "/");
    EXPECT_FALSE(r.started);
}

}  // namespace
}  // namespace Core_Platform
