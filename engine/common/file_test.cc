#include "common/file.h"

#include <gtest/gtest.h>

#include <boost/system/system_error.hpp>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "platform/strings.h"

namespace Core_Common {
namespace {

namespace fs = std::filesystem;

class FileT : public testing::Test {
protected:
    void SetUp() override {
        m_dir = fs::path(testing::TempDir()) /
                ("file_t_" +
                 std::string(testing::UnitTest::GetInstance()->current_test_info()->name()));
        fs::remove_all(m_dir);
        fs::create_directories(m_dir);
    }
    void TearDown() override { fs::remove_all(m_dir); }

    std::u16string path(const char* name) const {
        return Core_Platform::utf8_to_wide((m_dir / name).string());
    }

    fs::path m_dir;
};

TEST_F(FileT, OpenReadOnlyOfMissingFileRaisesErrnoInSystemCategory) {
    file_t file;
    try {
        file.open(path("missing"), true);
        FAIL() << "no exception";
    } catch (const boost::system::system_error& e) {
        EXPECT_EQ(e.code().value(), ENOENT);
        EXPECT_EQ(e.code().category(), boost::system::system_category());
    }
    EXPECT_FALSE(file.is_open());
}

TEST_F(FileT, OpenForWritingCreatesAnEmptyFile) {
    file_t file;
    file.open(path("new"), false);
    EXPECT_TRUE(file.is_open());
    EXPECT_FALSE(file.read_only());
    EXPECT_EQ(file.get_length(), 0u);
    EXPECT_TRUE(fs::is_regular_file(m_dir / "new"));
}

TEST_F(FileT, ReadWritePositionAndLength) {
    file_t file;
    file.open(path("f"), false);
    EXPECT_EQ(file.write("hello world", 11), 11u);
    EXPECT_EQ(file.tell(), 11u);
    EXPECT_EQ(file.get_length(), 11u);
    EXPECT_EQ(file.write("x", 0), 0u);

    file.set_length(5);
    EXPECT_EQ(file.get_length(), 5u);
    EXPECT_EQ(file.tell(), 5u);
    file.set_length(0);
    EXPECT_EQ(file.get_length(), 0u);
    EXPECT_EQ(file.tell(), 0u);
    file.write("abc", 3);
    file.close();
    file.close();  // closing twice does nothing

    file.open(path("f"), true);
    EXPECT_TRUE(file.read_only());
    char buffer[16] = {};
    EXPECT_EQ(file.read(buffer, 0), 0u);
    EXPECT_EQ(file.read(buffer, sizeof buffer), 3u);
    EXPECT_EQ(std::string(buffer, 3), "abc");
    EXPECT_EQ(file.read(buffer, sizeof buffer), 0u);
    file.seek_to_end();
    EXPECT_EQ(file.tell(), 3u);
    EXPECT_THROW(file.write("z", 1), boost::system::system_error);  // opened read-only
}

TEST_F(FileT, ReopeningClosesThePreviousFile) {
    file_t file;
    file.open(path("a"), false);
    const int first = file.handle();
    file.open(path("b"), false);
    EXPECT_TRUE(file.is_open());
    EXPECT_TRUE(fs::exists(m_dir / "b"));
    // The old descriptor was released before the new open, which reused it.
    EXPECT_EQ(file.handle(), first);
}

TEST_F(FileT, OperationsOnAClosedFileRaise) {
    file_t file;
    char c;
    EXPECT_THROW(file.read(&c, 1), boost::system::system_error);
    EXPECT_THROW(file.tell(), boost::system::system_error);
    EXPECT_THROW(file.get_length(), boost::system::system_error);
}

TEST_F(FileT, CreateNewRefusesAnExistingFile) {
    file_t file;
    file.create_new(path("n"), 0600);
    EXPECT_TRUE(file.is_open());
    file_t again;
    try {
        again.create_new(path("n"), 0600);
        FAIL() << "no exception";
    } catch (const boost::system::system_error& e) {
        EXPECT_EQ(e.code().value(), EEXIST);
    }
}

}  // namespace
}  // namespace Core_Common
