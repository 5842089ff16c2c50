#include "common/log_file_sink.h"

#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>

#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "common/log_dispatcher.h"
#include "platform/temp_dir_testing.h"

namespace Core_Common {
namespace {

class LogFileSink : public testing::Test {
protected:
    void SetUp() override { m_path = m_dir + "/host.log"; }
    void TearDown() override {
        set_log_enabled(false);
        LogDispatcher::destroy();
    }
    static std::string slurp(const std::string& path) {
        std::ifstream in(path, std::ios::binary);
        std::ostringstream all;
        all << in.rdbuf();
        return all.str();
    }
    static void spit(const std::string& path, const std::string& bytes) {
        std::ofstream out(path, std::ios::binary);
        out << bytes;
    }
    Core_Platform::testing::temp_dir_t m_tmp{"log_file_sink_test"};
    std::string m_dir = m_tmp.path().string();
    std::string m_path;
};

TEST_F(LogFileSink, ReplacesAnExistingFileWithAnEmptyOne) {
    spit(m_path, "old content of an earlier run\r\n");
    InterfaceLogCallbackFile sink(m_path);
    EXPECT_TRUE(sink.is_open());
    EXPECT_EQ(sink.max_size(), 10485760u);
    EXPECT_EQ(slurp(m_path), "");
    sink.on_line(0, "one\r\n");
    sink.on_line(0, "two\r\n");
    EXPECT_EQ(slurp(m_path), "one\r\ntwo\r\n");
}

TEST_F(LogFileSink, WidePathConstructorOpensTheSameFile) {
    std::u16string wide(m_path.begin(), m_path.end());
    InterfaceLogCallbackFile sink(wide);
    EXPECT_EQ(sink.path(), m_path);
    sink.on_line(1, "x\r\n");
    EXPECT_EQ(slurp(m_path), "x\r\n");
}

TEST_F(LogFileSink, RestartsOnlyPastTenMebibytes) {
    InterfaceLogCallbackFile sink(m_path);
    // Exactly at the limit the next line is still appended.
    sink.on_line(0, std::string(10485760 - 2, 'a') + "\r\n");
    sink.on_line(0, "next\r\n");
    struct stat st {};
    ASSERT_EQ(stat(m_path.c_str(), &st), 0);
    EXPECT_EQ(st.st_size, 10485760 + 6);
    // Past the limit the file starts afresh with the next line.
    sink.on_line(0, "first of the new file\r\n");
    EXPECT_EQ(slurp(m_path), "first of the new file\r\n");
    EXPECT_TRUE(sink.is_open());
}

TEST_F(LogFileSink, OneByteOverTheLimitRestarts) {
    InterfaceLogCallbackFile sink(m_path);
    sink.on_line(0, std::string(10485761, 'b'));
    sink.on_line(0, "fresh\r\n");
    EXPECT_EQ(slurp(m_path), "fresh\r\n");
}

TEST_F(LogFileSink, UnopenablePathLeavesTheSinkClosedAndSilent) {
    InterfaceLogCallbackFile sink(m_dir + "/no/such/dir/host.log");
    EXPECT_FALSE(sink.is_open());
    sink.on_line(0, "lost\r\n");  // no error reaches the caller
    InterfaceLogCallbackFile on_directory(m_dir);
    EXPECT_FALSE(on_directory.is_open());
    struct stat st {};
    ASSERT_EQ(stat(m_dir.c_str(), &st), 0);
    EXPECT_TRUE(S_ISDIR(st.st_mode));  // a directory at the path is left alone
}

TEST_F(LogFileSink, LinesFromManyThreadsNeverInterleave) {
    InterfaceLogCallbackFile sink(m_path);
    LogDispatcher::create();
    ASSERT_TRUE(LogDispatcher::add_sink(&sink));
    set_log_enabled(true);
    constexpr int kThreads = 4;
    constexpr int kLines = 500;
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([t] {
            const std::string message(40, static_cast<char>('a' + t));
            for (int i = 0; i < kLines; ++i) {
                log_write(1, log_level_t::NORMAL, log_category_t::IPC, "", 0, message);
            }
        });
    }
    for (auto& th : threads) {
        th.join();
    }
    const std::string all = slurp(m_path);
    std::istringstream lines(all);
    std::string line;
    int count = 0;
    while (std::getline(lines, line)) {
        ASSERT_EQ(line.size(), 1u + 15u + 14u + 40u + 1u) << line;  // CR stays before LF
        EXPECT_EQ(line.substr(16, 14), "[IPC]         ");
        const char c = line[30];
        EXPECT_EQ(line.substr(30, 40), std::string(40, c));
        ++count;
    }
    EXPECT_EQ(count, kThreads * kLines);
}

}  // namespace
}  // namespace Core_Common
