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

TEST(ChildProcess, MissingProgram) {
    const child_result_t r = run_child_process("/nonexistent/program", {}, "/");
    EXPECT_FALSE(r.started);
}

}  // namespace
}  // namespace Core_Platform
