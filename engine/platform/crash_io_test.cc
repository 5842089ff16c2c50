#include "platform/crash_io.h"

#include <gtest/gtest.h>
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
