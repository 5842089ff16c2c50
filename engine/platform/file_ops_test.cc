#include "platform/file_ops.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "platform/file_faults_testing.h"

namespace Core_Platform {
namespace {

namespace fs = std::filesystem;

class FileOps : public testing::Test {
protected:
    void SetUp() override {
        m_dir = fs::path(testing::TempDir()) /
                ("file_ops_" +
                 std::string(testing::UnitTest::GetInstance()->current_test_info()->name()));
        fs::remove_all(m_dir);
        fs::create_directories(m_dir);
    }
    void TearDown() override { fs::remove_all(m_dir); }

    std::string path(const char* name) const { return (m_dir / name).string(); }
    static std::string contents(const std::string& p) {
        std::ifstream in(p, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), {});
    }

    fs::path m_dir;
};

TEST_F(FileOps, OpenCreatesOrRequiresTheFile) {
    EXPECT_EQ(file_open(path("missing"), true), -1);
    EXPECT_EQ(errno, ENOENT);
    const int fd = file_open(path("new"), false);
    ASSERT_GE(fd, 0);
    EXPECT_EQ(file_size(fd), 0);
    EXPECT_EQ(file_close(fd), 0);
    EXPECT_EQ(path_kind(path("new")), path_kind_enum::regular);
    EXPECT_EQ(path_kind(m_dir.string()), path_kind_enum::directory);
    EXPECT_EQ(path_kind(path("missing")), path_kind_enum::missing);
    EXPECT_EQ(file_create_new(path("new"), 0600), -1);
    EXPECT_EQ(errno, EEXIST);
}

TEST_F(FileOps, NthCallsFailAsPlanned) {
    {
        file_faults_t plan;
        plan.fail_open_at = 2;
        plan.fail_fsync_at = 1;
        plan.fail_rename_at = 1;
        scoped_file_faults faults(plan);
        const int fd = file_open(path("a"), false);
        ASSERT_GE(fd, 0);
        EXPECT_EQ(file_open(path("a"), false), -1);
        EXPECT_EQ(errno, EIO);
        EXPECT_EQ(file_fsync(fd), -1);
        EXPECT_EQ(file_fsync(fd), 0);
        EXPECT_EQ(file_rename(path("a"), path("b")), -1);
        EXPECT_EQ(file_rename(path("a"), path("b")), 0);
        file_close(fd);
    }
    // The plan ends with its scope.
    const int fd = file_open(path("b"), false);
    ASSERT_GE(fd, 0);
    EXPECT_EQ(file_fsync(fd), 0);
    file_close(fd);
}

TEST_F(FileOps, FailingWriteStopsHalfWay) {
    const int fd = file_open(path("w"), false);
    ASSERT_GE(fd, 0);
    {
        file_faults_t plan;
        plan.fail_write_at = 2;
        scoped_file_faults faults(plan);
        EXPECT_EQ(file_write(fd, "abcd", 4), 4);
        EXPECT_EQ(file_write(fd, "efgh", 4), -1);
        EXPECT_EQ(errno, EIO);
    }
    file_close(fd);
    EXPECT_EQ(contents(path("w")), "abcdef");
}

TEST_F(FileOps, FullDiskGivesShortWriteThenEnospc) {
    const int fd = file_open(path("w"), false);
    ASSERT_GE(fd, 0);
    {
        file_faults_t plan;
        plan.disk_space = 5;
        scoped_file_faults faults(plan);
        EXPECT_EQ(file_write(fd, "abc", 3), 3);
        EXPECT_EQ(file_write(fd, "defg", 4), 2);
        EXPECT_EQ(file_write(fd, "g", 1), -1);
        EXPECT_EQ(errno, ENOSPC);
    }
    file_close(fd);
    EXPECT_EQ(contents(path("w")), "abcde");
}

TEST_F(FileOps, DirectorySyncAndCreate) {
    EXPECT_EQ(directory_sync(m_dir.string()), 0);
    EXPECT_EQ(directory_sync(path("missing")), -1);
    EXPECT_EQ(directory_create(path("d")), 0);
    EXPECT_EQ(directory_create(path("d")), -1);
    EXPECT_EQ(errno, EEXIST);
    EXPECT_EQ(path_mode(path("missing"), 0123u), 0123u);
}

}  // namespace
}  // namespace Core_Platform
