#include "platform/plain_file.h"

#include <errno.h>
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fstream>
#include <sstream>
#include <string>

#include "platform/temp_dir_testing.h"

namespace Core_Platform {
namespace {

class PlainFile : public ::testing::Test {
protected:
    static std::string slurp(const std::string& path) {
        std::ifstream in(path, std::ios::binary);
        std::ostringstream all;
        all << in.rdbuf();
        return all.str();
    }
    testing::temp_dir_t m_tmp{"plain_file_test"};
    std::string m_dir = m_tmp.path().string();
};

TEST_F(PlainFile, CreatesWritesAndTracksPosition) {
    const std::string path = m_dir + "/a.txt";
    EXPECT_FALSE(is_regular_file(path));
    plain_file f;
    EXPECT_FALSE(f.is_open());
    EXPECT_FALSE(f.write("x", 1));
    ASSERT_TRUE(f.open_read_write(path));
    EXPECT_TRUE(is_regular_file(path));
    EXPECT_EQ(f.position(), 0u);
    ASSERT_TRUE(f.write("hello", 5));
    ASSERT_TRUE(f.write(" world", 6));
    EXPECT_EQ(f.position(), 11u);
    f.close();
    f.close();  // closing twice is harmless
    EXPECT_EQ(slurp(path), "hello world");
}

TEST_F(PlainFile, ReopenKeepsOrTruncates) {
    const std::string path = m_dir + "/b.txt";
    {
        plain_file f;
        ASSERT_TRUE(f.open_read_write(path));
        ASSERT_TRUE(f.write("0123456789", 10));
    }
    {
        plain_file f;
        ASSERT_TRUE(f.open_read_write(path));
        ASSERT_TRUE(f.write("ab", 2));  // over the old bytes from the start
    }
    EXPECT_EQ(slurp(path), "ab23456789");
    {
        plain_file f;
        ASSERT_TRUE(f.open_read_write(path, /*truncate=*/true));
        ASSERT_TRUE(f.write("z", 1));
    }
    EXPECT_EQ(slurp(path), "z");
}

TEST_F(PlainFile, FailuresAreReportedNotRaised) {
    plain_file f;
    EXPECT_FALSE(f.open_read_write(m_dir + "/missing/dir/c.txt"));
    EXPECT_EQ(f.error(), ENOENT);
    EXPECT_FALSE(f.is_open());
    EXPECT_EQ(f.position(), 0u);

    // A directory is not a regular file and cannot be opened for writing.
    EXPECT_FALSE(is_regular_file(m_dir));
    EXPECT_FALSE(f.open_read_write(m_dir));
    EXPECT_FALSE(remove_file(m_dir + "/nothing"));
    const std::string path = m_dir + "/d.txt";
    ASSERT_TRUE(f.open_read_write(path));
    f.close();
    EXPECT_TRUE(remove_file(path));
    EXPECT_FALSE(is_regular_file(path));
}

}  // namespace
}  // namespace Core_Platform
