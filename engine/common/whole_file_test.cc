#include "common/whole_file.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "platform/file_faults_testing.h"
#include "platform/file_ops.h"
#include "platform/strings.h"

namespace Core_Common {
namespace {

namespace fs = std::filesystem;
using Core_Platform::file_faults_t;
using Core_Platform::scoped_file_faults;

class WholeFile : public testing::Test {
protected:
    void SetUp() override {
        m_dir = fs::path(testing::TempDir()) /
                ("whole_file_" +
                 std::string(testing::UnitTest::GetInstance()->current_test_info()->name()));
        fs::permissions(testing::TempDir(), fs::perms::owner_all, fs::perm_options::add);
        if (fs::exists(m_dir)) fs::permissions(m_dir, fs::perms::owner_all, fs::perm_options::add);
        fs::remove_all(m_dir);
        fs::create_directories(m_dir);
    }
    void TearDown() override {
        fs::permissions(m_dir, fs::perms::owner_all, fs::perm_options::add);
        fs::remove_all(m_dir);
    }

    std::u16string path(const char* name) const { return wide(m_dir / name); }
    static std::u16string wide(const fs::path& p) {
        return Core_Platform::utf8_to_wide(p.string());
    }
    std::string contents(const char* name) const {
        std::ifstream in(m_dir / name, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), {});
    }
    void put(const char* name, const std::string& data) const {
        std::ofstream(m_dir / name, std::ios::binary) << data;
    }
    // Names in the directory: a failed write must not leave its temporary file.
    std::size_t entries() const {
        return static_cast<std::size_t>(
            std::distance(fs::directory_iterator(m_dir), fs::directory_iterator()));
    }

    fs::path m_dir;
};

TEST_F(WholeFile, WriteThenReadBack) {
    const std::string data("binary\0data\xFF", 12);
    ASSERT_TRUE(write_whole_file(path("f"), data));
    std::string text;
    ASSERT_TRUE(read_whole_file(path("f"), text));
    EXPECT_EQ(text, data);
    std::vector<std::uint8_t> bytes;
    ASSERT_TRUE(read_whole_file(path("f"), bytes));
    EXPECT_EQ(std::string(bytes.begin(), bytes.end()), data);

    const std::vector<std::uint8_t> other = {1, 2, 3};
    ASSERT_TRUE(write_whole_file(path("g"), other));
    EXPECT_EQ(contents("g"), "\x01\x02\x03");
    EXPECT_EQ(entries(), 2u);
}

TEST_F(WholeFile, StampsTellReplacedContentApart) {
    file_stamp_t first, again, replaced;
    EXPECT_FALSE(file_stamp(path("f"), first)) << "no file, no stamp";
    fs::create_directory(m_dir / "d");
    EXPECT_FALSE(file_stamp(path("d"), first)) << "a directory has no stamp";

    ASSERT_TRUE(write_whole_file(path("f"), "same bytes"));
    ASSERT_TRUE(file_stamp(path("f"), first));
    ASSERT_TRUE(file_stamp(path("f"), again));
    EXPECT_EQ(first, again);
    EXPECT_EQ(first.size, 10u);

    // The same bytes written again are a new file (a new inode), even within
    // one tick of the clock.
    ASSERT_TRUE(write_whole_file(path("f"), "same bytes"));
    ASSERT_TRUE(file_stamp(path("f"), replaced));
    EXPECT_NE(first, replaced);
}

TEST_F(WholeFile, OverwritingALongerFileLeavesExactlyTheNewBytes) {
    put("f", std::string(10000, 'o'));
    ASSERT_TRUE(write_whole_file(path("f"), "new"));
    EXPECT_EQ(contents("f"), "new");
    ASSERT_TRUE(write_whole_file(path("f"), ""));
    EXPECT_EQ(contents("f"), "");
    EXPECT_TRUE(is_regular_file(path("f")));
}

TEST_F(WholeFile, PermissionBitsCarryOver) {
    put("f", "old");
    fs::permissions(m_dir / "f", fs::perms::owner_read | fs::perms::owner_write);
    ASSERT_TRUE(write_whole_file(path("f"), "new"));
    EXPECT_EQ(fs::status(m_dir / "f").permissions(),
              fs::perms::owner_read | fs::perms::owner_write);
}

TEST_F(WholeFile, AppendAddsToTheEnd) {
    ASSERT_TRUE(write_whole_file(path("f"), "ab", true));
    ASSERT_TRUE(write_whole_file(path("f"), "cd", true));
    EXPECT_EQ(contents("f"), "abcd");
}

TEST_F(WholeFile, ReadFailures) {
    std::string out = "unchanged";
    errno = 0;
    EXPECT_FALSE(read_whole_file(wide(m_dir), out));
    EXPECT_EQ(errno, ENOENT);
    EXPECT_FALSE(read_whole_file(path("missing"), out));
    EXPECT_EQ(out, "unchanged");
    put("empty", "");
    EXPECT_TRUE(read_whole_file(path("empty"), out));
    EXPECT_EQ(out, "");
}

TEST_F(WholeFile, WriteOverADirectoryFails) {
    fs::create_directory(m_dir / "d");
    EXPECT_FALSE(write_whole_file(path("d"), "x"));
    EXPECT_TRUE(is_directory(path("d")));
}

// Fails each kind of step at its 1st, 2nd, ... call, the way a crash or a
// failing disk would, until the write goes through. Until then every attempt
// must report false and leave the previous file byte for byte with no
// temporary file behind; the one exception is the final directory sync,
// which fails after the new content is already complete in place.
TEST_F(WholeFile, FailureAtEveryStepKeepsThePreviousFile) {
    const std::string old_data = "previous content\n";
    const std::string new_data(256 * 1024, 'n');
    struct step_t {
        const char* what;
        int file_faults_t::*counter;
    };
    const step_t steps[] = {{"open", &file_faults_t::fail_open_at},
                            {"write", &file_faults_t::fail_write_at},
                            {"fsync", &file_faults_t::fail_fsync_at},
                            {"rename", &file_faults_t::fail_rename_at}};
    for (const step_t& step : steps) {
        for (int at = 1;; ++at) {
            ASSERT_LT(at, 10) << step.what << " never succeeds";
            put("f", old_data);
            file_faults_t plan;
            plan.*step.counter = at;
            bool written;
            {
                scoped_file_faults faults(plan);
                written = write_whole_file(path("f"), new_data);
            }
            EXPECT_EQ(entries(), 1u) << step.what << " " << at;
            if (written) {
                EXPECT_EQ(contents("f"), new_data) << step.what << " " << at;
                break;
            }
            EXPECT_EQ(errno, EIO) << step.what << " " << at;
            EXPECT_EQ(contents("f"), old_data) << step.what << " " << at;
        }
    }
}

TEST_F(WholeFile, FullDiskKeepsThePreviousFile) {
    const std::string old_data = "previous content\n";
    for (std::int64_t space : {0, 1, 4096, 100000}) {
        put("f", old_data);
        file_faults_t plan;
        plan.disk_space = space;
        {
            scoped_file_faults faults(plan);
            EXPECT_FALSE(write_whole_file(path("f"), std::string(100001, 'x'))) << space;
        }
        EXPECT_EQ(errno, ENOSPC) << space;
        EXPECT_EQ(contents("f"), old_data) << space;
        EXPECT_EQ(entries(), 1u) << space;
    }
    file_faults_t plan;
    plan.disk_space = 100001;
    scoped_file_faults faults(plan);
    EXPECT_TRUE(write_whole_file(path("f"), std::string(100001, 'x')));
}

TEST_F(WholeFile, FailedDirectorySyncAfterTheRenameIsNoFailure) {
    put("f", "old");
    file_faults_t plan;
    plan.fail_fsync_at = 2;  // the file's sync passes, the directory's fails
    {
        scoped_file_faults faults(plan);
        EXPECT_TRUE(write_whole_file(path("f"), "new"));
    }
    // The new content is in place, whole: that is what a caller must hear.
    EXPECT_EQ(contents("f"), "new");
    EXPECT_EQ(entries(), 1u);
}

// Private files are 0600 and private directories 0700 whatever the umask
// and whatever mode the replaced file had; other files keep theirs.
TEST_F(WholeFile, PrivateFilesAndDirectoriesIgnoreTheUmask) {
    put("f", "old");
    fs::permissions(m_dir / "f", fs::perms::all);
    for (const mode_t mask : {mode_t{0}, mode_t{022}, mode_t{0277}}) {
        const mode_t previous = ::umask(mask);
        EXPECT_TRUE(write_private_file(path("f"), "secret"));
        const std::string dir = "d" + std::to_string(mask);
        EXPECT_TRUE(create_private_directories(path((dir + "/inner").c_str())));
        ::umask(previous);
        EXPECT_EQ(fs::status(m_dir / "f").permissions(),
                  fs::perms::owner_read | fs::perms::owner_write)
            << mask;
        for (const fs::path& p : {m_dir / dir, m_dir / dir / "inner"}) {
            EXPECT_EQ(fs::status(p).permissions(), fs::perms::owner_all) << p << " " << mask;
        }
    }
    EXPECT_EQ(contents("f"), "secret");
    EXPECT_EQ(entries(), 4u);
}

// What a writer that died between creating its temporary file and the rename
// left behind goes at the next write of that file; the temporary file of a
// live writer (it holds its lock), a young one, and other names stay.
TEST_F(WholeFile, StaleTemporaryFilesOfACrashedWriterAreRemoved) {
    const auto old_time = fs::file_time_type::clock::now() - std::chrono::minutes(10);
    const char* stale = "f.tmp-0123456789ab";
    const char* live = "f.tmp-00000000000a";
    const char* young = "f.tmp-ffffffffffff";
    for (const char* name :
         {stale, live, young, "f.tmp-0123456789AB", "f.tmp-123", "g.tmp-0123456789ab"}) {
        put(name, "partial");
        if (name != young) fs::last_write_time(m_dir / name, old_time);
    }
    const int held = Core_Platform::file_open((m_dir / live).string(), true);
    ASSERT_GE(held, 0);
    ASSERT_EQ(Core_Platform::file_lock(held, true, false), 0);

    EXPECT_TRUE(write_whole_file(path("f"), "new"));
    EXPECT_EQ(contents("f"), "new");
    EXPECT_FALSE(fs::exists(m_dir / stale));
    for (const char* kept :
         {live, young, "f.tmp-0123456789AB", "f.tmp-123", "g.tmp-0123456789ab"}) {
        EXPECT_TRUE(fs::exists(m_dir / kept)) << kept;
    }
    // Once its writer is gone, the held one is stale too.
    Core_Platform::file_close(held);
    EXPECT_EQ(remove_stale_temporaries(path("f")), 1);
    EXPECT_FALSE(fs::exists(m_dir / live));
    EXPECT_EQ(remove_stale_temporaries(path("f")), 0);
}

// Runs `body` without the privilege to override file permissions (root has
// it), in a child process, and returns its exit status.
template <class Body>
int run_unprivileged(Body body) {
    const pid_t child = fork();
    if (child == 0) {
        if (getuid() == 0 && (setgid(65534) != 0 || setuid(65534) != 0)) _exit(100);
        _exit(body());
    }
    int status = 0;
    waitpid(child, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : 101;
}

TEST_F(WholeFile, ReadOnlyDirectoryKeepsThePreviousFile) {
    const std::string old_data = "previous content\n";
    put("f", old_data);
    // The file itself stays writable: emptying it in place would succeed.
    fs::permissions(m_dir / "f", fs::perms::all);
    fs::permissions(m_dir, fs::perms::owner_read | fs::perms::owner_exec | fs::perms::group_read |
                               fs::perms::group_exec | fs::perms::others_read |
                               fs::perms::others_exec);
    fs::permissions(testing::TempDir(), fs::perms::others_exec, fs::perm_options::add);
    const std::u16string target = path("f");
    const int status = run_unprivileged([&] {
        if (write_whole_file(target, std::string(5000, 'n'))) return 1;
        return errno == EACCES ? 0 : 2;
    });
    EXPECT_EQ(status, 0);
    EXPECT_EQ(contents("f"), old_data);
    EXPECT_EQ(entries(), 1u);
}

TEST_F(WholeFile, DirectoryHelpers) {
    EXPECT_TRUE(is_directory(wide(m_dir)));
    EXPECT_FALSE(is_regular_file(wide(m_dir)));
    EXPECT_FALSE(create_directories(u""));
    EXPECT_TRUE(create_directories(path("a/b/c/")));
    EXPECT_TRUE(is_directory(path("a/b/c")));
    EXPECT_TRUE(create_directories(path("a/b/c")));
    EXPECT_TRUE(create_directory(path("a")));
    EXPECT_TRUE(create_directory(path("a/x")));
    EXPECT_FALSE(create_directory(path("missing/y")));

    fs::create_directory_symlink(m_dir / "a", m_dir / "link");
    EXPECT_TRUE(is_directory(path("link")));

    put("file", "x");
    EXPECT_TRUE(is_regular_file(path("file")));
    EXPECT_FALSE(create_directories(path("file/sub")));
    EXPECT_TRUE(remove_file(path("file")));
    EXPECT_FALSE(fs::exists(m_dir / "file"));
    EXPECT_TRUE(remove_file(path("file")));  // nothing left to remove
    EXPECT_TRUE(remove_file(path("a")));     // a directory is not removed
    EXPECT_TRUE(is_directory(path("a")));
}

}  // namespace
}  // namespace Core_Common
