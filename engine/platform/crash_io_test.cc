#include "platform/crash_io.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <thread>

namespace Core_Platform {
namespace {

namespace fs = std::filesystem;

struct scratch_dir {
    scratch_dir() : path(fs::temp_directory_path() / ("zorvane_io_" + std::to_string(::getpid()))) {
        fs::remove_all(path);
        fs::create_directories(path);
    }
    ~scratch_dir() {
        std::error_code ec;
        fs::remove_all(path, ec);
    }
    fs::path path;
};

TEST(CrashIo, CreatesAndWritesFiles) {
    scratch_dir dir;
    const std::string name = (dir.path / "report.txt").string();
    int fd = create_report_file(name.c_str());
    ASSERT_GE(fd, 0);
    ASSERT_TRUE(write_fully(fd, "abc", 3));
    close_file(fd);
    fd = create_report_file(name.c_str());  // truncates
    ASSERT_TRUE(write_fully(fd, "de", 2));
    close_file(fd);
    std::ifstream in(name, std::ios::binary);
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), "de");
    EXPECT_LT(create_report_file((dir.path / "missing" / "x").string().c_str()), 0);
}

TEST(CrashIo, ReportFilesArePrivateAndNeverFollowAPlantedLink) {
    scratch_dir dir;
    const fs::path victim = dir.path / "victim";
    std::ofstream(victim) << "precious";
    auto content = [](const fs::path& p) {
        std::ifstream in(p, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), {});
    };
    // A symbolic link and a second name of another file are refused; the
    // file they reach keeps its content.
    fs::create_symlink(victim, dir.path / "CRASHLOG.TXT");
    EXPECT_LT(create_report_file((dir.path / "CRASHLOG.TXT").string().c_str()), 0);
    fs::create_hard_link(victim, dir.path / "CRASH.DMP");
    EXPECT_LT(create_report_file((dir.path / "CRASH.DMP").string().c_str()), 0);
    EXPECT_EQ(content(victim), "precious");
    // A new report and an old world-readable one end up 0600, whatever the
    // umask.
    const fs::path old_report = dir.path / "CRASHLOG.DAT";
    std::ofstream(old_report) << "old";
    fs::permissions(old_report, fs::perms::owner_read | fs::perms::owner_write |
                                    fs::perms::group_read | fs::perms::others_read);
    const mode_t saved = ::umask(0);
    for (const fs::path& p : {dir.path / "new.txt", old_report}) {
        const int fd = create_report_file(p.string().c_str());
        ASSERT_GE(fd, 0) << p;
        close_file(fd);
        EXPECT_EQ(fs::status(p).permissions(), fs::perms::owner_read | fs::perms::owner_write) << p;
        EXPECT_EQ(content(p), "");
    }
    ::umask(saved);
}

TEST(CrashIo, ReadsMemoryWithoutFaulting) {
    ASSERT_TRUE(prepare_memory_probe());
    const unsigned char bytes[2] = {0x5A, 0xC3};
    std::uint8_t value = 0;
    ASSERT_TRUE(read_memory_byte(reinterpret_cast<std::uintptr_t>(&bytes[1]), value));
    EXPECT_EQ(value, 0xC3);
    EXPECT_FALSE(read_memory_byte(0, value));
    EXPECT_FALSE(read_memory_byte(16, value));
}

TEST(CrashIo, FindsTheModuleOfAnAddress) {
    char path[1024];
    ASSERT_TRUE(
        module_path_of(reinterpret_cast<std::uintptr_t>(&module_path_of), path, sizeof path));
    EXPECT_EQ(fs::path(path).filename(), "platform_test");
    int local = 0;
    EXPECT_FALSE(module_path_of(reinterpret_cast<std::uintptr_t>(&local), path, sizeof path));
    EXPECT_FALSE(module_path_of(0, path, sizeof path));
}

TEST(CrashIo, StartsAProgramWithoutWaiting) {
    scratch_dir dir;
    ASSERT_TRUE(executable_exists("/usr/bin/touch"));
    EXPECT_FALSE(executable_exists((dir.path / "nothing").string().c_str()));
    const std::string target = (dir.path / "touched").string();
    start_detached("/usr/bin/touch", target.c_str());
    for (int i = 0; i < 200 && !fs::exists(target); ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    EXPECT_TRUE(fs::exists(target));
}

}  // namespace
}  // namespace Core_Platform
