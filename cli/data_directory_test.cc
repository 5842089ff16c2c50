#include "data_directory.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "host_testing.h"

namespace Zorvane_Cli {
namespace {

using Core_Server::testing::backend_enum;
using Core_Server::testing::process_result_t;
using Core_Server::testing::run_process;
using Core_Server::testing::scratch_store_t;
using Core_Server::testing::temp_dir_t;
using testing::bookmark_t;
using testing::bookmarks;
using testing::bookmarks_by_url;
using testing::host_rig_t;
using testing::parse_lines;
using testing::read_file;
using testing::tree_of;
using testing::zorvane_node_t;

namespace fs = std::filesystem;

unsigned mode_of(const fs::path& path) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) return 0;
    return st.st_mode & 07777;
}

TEST(AccountDirectoryName, KeepsEveryAccountInsideItsOwnDirectory) {
    EXPECT_EQ(account_directory_name("alice", "localhost:8080"), "alice@localhost:8080");
    EXPECT_EQ(account_directory_name("a/../b", "[::1]:8080"), "a%2F..%2Fb@[::1]:8080");
    EXPECT_EQ(account_directory_name("..", "h:1"), "%2E.@h:1");
    EXPECT_EQ(account_directory_name("bob@home", "h:1"), "bob%40home@h:1");
    // Distinct accounts never share a name.
    EXPECT_NE(account_directory_name("a@b", "c:1"), account_directory_name("a", "b@c:1"));
    EXPECT_NE(account_directory_name("Alice", "h:1"), account_directory_name("alice", "h:1"));
}

// zorvane run as a new user would: a fresh HOME, the server named by
// ZORVANE_SERVER, no --data-dir unless a case gives one.
class DataDirectory : public ::testing::TestWithParam<backend_enum> {
protected:
    void SetUp() override {
        ZV_REQUIRE_STORE(m_scratch);
        ASSERT_NO_FATAL_FAILURE(m_rig.start(m_scratch.url()));
        m_home = m_dir.path() / "home";
        fs::create_directory(m_home);
    }

    std::string server() { return "127.0.0.1:" + std::to_string(m_rig.server().port()); }

    std::map<std::string, std::string> environment() {
        return {{"HOME", m_home.string()},
                {"XDG_DATA_HOME", ""},
                {"ZORVANE_SERVER", server()},
                {host_rig_t::kPasswordVariable, host_rig_t::kPassword}};
    }

    process_result_t zorvane(const std::vector<std::string>& args) {
        std::vector<std::string> all = {"--user",         host_rig_t::kUser,
                                        "--password-env", host_rig_t::kPasswordVariable,
                                        "--timeout",      "30"};
        all.insert(all.end(), args.begin(), args.end());
        return run_process(ZV_ZORVANE_BINARY, all, environment());
    }

    std::string write_tree(const std::string& name, const zorvane_node_t& tree) const {
        std::string text;
        Core_ZorvaneMerge::write_tree(tree, text);
        const std::string path = (m_dir.path() / name).string();
        std::ofstream(path, std::ios::binary) << text;
        return path;
    }

    zorvane_node_t read_tree(const std::string& path) const {
        zorvane_node_t tree;
        Core_ZorvaneMerge::read_tree(read_file(path), tree);
        return tree;
    }

    // The server's request lines so far.
    std::size_t requests_logged() {
        std::istringstream in(m_rig.server().log());
        std::size_t n = 0;
        for (std::string line; std::getline(in, line);) {
            if (line.find(" action=") != std::string::npos) ++n;
        }
        return n;
    }

    scratch_store_t m_scratch{GetParam()};
    host_rig_t m_rig;
    temp_dir_t m_dir;
    fs::path m_home;
};

// The session of the README, its lines run as they stand by a shell in a
// directory where build/bin holds the programs.
TEST_P(DataDirectory, TheReadmeSessionKeepsItsRecord) {
    std::ifstream readme(ZV_README);
    ASSERT_TRUE(readme) << ZV_README;
    std::string define, sync;
    for (std::string line; std::getline(readme, line);) {
        if (define.empty() && line.rfind("    Z=\"build/bin/zorvane ", 0) == 0) define = line;
        if (sync.empty() && line.rfind("    $Z sync --tree bookmarks.xml ", 0) == 0) sync = line;
    }
    ASSERT_FALSE(define.empty() || sync.empty()) << "the README's session has changed";

    const fs::path work = m_dir.path() / "work";
    fs::create_directories(work / "build");
    fs::create_directory_symlink(fs::path(ZV_ZORVANE_BINARY).parent_path(), work / "build" / "bin");
    fs::create_directory_symlink(fs::path(ZV_ZORVANE_BINARY).parent_path().parent_path() / "lib",
                                 work / "build" / "lib");
    auto list = bookmarks(5, "r");
    write_tree("work/bookmarks.xml", tree_of(list));
    auto env = environment();
    env["ZV_PW"] = host_rig_t::kPassword;
    const std::string script = "set -e; cd '" + work.string() + "'\n" + define + "\n" + sync + "\n";

    auto r = run_process("/bin/bash", {"-c", script}, env);
    ASSERT_EQ(r.status, 0) << script << r.out << r.err;
    EXPECT_EQ(parse_lines(r.out)["version"], "1") << r.out;

    // A bookmark deleted from the file stays deleted: the second run is a
    // later sync, not another first sync that merges it back.
    const bookmark_t gone = list[2];
    list.erase(list.begin() + 2);
    write_tree("work/bookmarks.xml", tree_of(list));
    r = run_process("/bin/bash", {"-c", script}, env);
    ASSERT_EQ(r.status, 0) << r.out << r.err;
    EXPECT_EQ(parse_lines(r.out)["version"], "2") << r.out;
    EXPECT_EQ(bookmarks_by_url(read_tree((work / "synced.xml").string())), bookmarks_by_url(list));
    EXPECT_EQ(m_rig.history(), (std::vector<int>{2, 1}));
}

// Without --data-dir the account's files go to its own directory under
// ~/.local/share/zorvane, made private; status names it; a deletion sticks.
TEST_P(DataDirectory, TheDefaultDirectoryIsCreatedPrivateAndKeepsTheRecord) {
    auto list = bookmarks(6, "d");
    const std::string file = write_tree("desktop.xml", tree_of(list));
    const std::string out = (m_dir.path() / "out.xml").string();
    auto r = zorvane({"sync", "--tree", file, "--out", out});
    ASSERT_EQ(r.status, 0) << r.out << r.err;

    const fs::path share = m_home / ".local" / "share";
    const fs::path expected = share / "zorvane" / ("alice@" + server());
    EXPECT_TRUE(fs::exists(expected / "zorvane.dat")) << expected;
    for (const fs::path& made : {m_home / ".local", share, share / "zorvane", expected}) {
        EXPECT_EQ(mode_of(made), 0700u) << made;
    }
    r = zorvane({"status"});
    auto kv = parse_lines(r.out);
    EXPECT_EQ(kv["data_dir"], expected.string());
    EXPECT_EQ(kv["verified"], "1");
    EXPECT_EQ(kv["version"], "1");

    list.erase(list.begin());
    r = zorvane({"sync", "--tree", write_tree("desktop.xml", tree_of(list)), "--out", out});
    ASSERT_EQ(r.status, 0) << r.out << r.err;
    EXPECT_EQ(bookmarks_by_url(read_tree(out)), bookmarks_by_url(list));

    // XDG_DATA_HOME, when absolute, takes the place of ~/.local/share.
    auto env = environment();
    env["XDG_DATA_HOME"] = (m_dir.path() / "xdg").string();
    r = run_process(
        ZV_ZORVANE_BINARY,
        {"--user", host_rig_t::kUser, "--password-env", host_rig_t::kPasswordVariable, "status"},
        env);
    EXPECT_EQ(parse_lines(r.out)["data_dir"],
              (m_dir.path() / "xdg" / "zorvane" / ("alice@" + server())).string());
}

// A data directory that cannot be made, or cannot take a file, stops the
// command before anything is sent.
TEST_P(DataDirectory, AnUnwritableDirectoryIsRefusedWithNothingSent) {
    const std::string file = write_tree("t.xml", tree_of(bookmarks(2, "u")));
    std::ofstream(m_dir.path() / "plain") << "a file";
    // Under a regular file nothing can be created; a process directory takes
    // no file, for root either.
    for (const std::string& dir :
         {(m_dir.path() / "plain" / "data").string(), std::string("/proc/self")}) {
        for (const std::vector<std::string>& action :
             {std::vector<std::string>{"sync", "--tree", file},
              {"update"},
              {"overwrite", "--tree", file}}) {
            std::vector<std::string> args = {"--data-dir", dir};
            args.insert(args.end(), action.begin(), action.end());
            const auto r = zorvane(args);
            EXPECT_EQ(r.status, 1) << dir << " " << action[0] << ": " << r.out << r.err;
            EXPECT_NE(r.err.find(dir), std::string::npos) << r.err;
            EXPECT_EQ(r.out.find("result="), std::string::npos) << r.out;
        }
    }
    EXPECT_EQ(requests_logged(), 0u) << m_rig.server().log();
    EXPECT_TRUE(m_rig.history().empty());
}

// Two computers syncing in turn, each applying what its sync wrote, leave
// one new server version per change, and none for a sync that only brings
// another computer's change in.
TEST_P(DataDirectory, TwoComputersLeaveOneVersionPerChange) {
    auto list = bookmarks(4, "c");
    auto run = [&](const std::string& computer, const zorvane_node_t& tree) {
        const std::string out = (m_dir.path() / (computer + "-browser.xml")).string();
        const auto r = m_rig.zorvane(
            computer, {"sync", "--tree", write_tree(computer + "-in.xml", tree), "--out", out});
        EXPECT_EQ(r.status, 0) << computer << ": " << r.out << r.err;
        return read_tree(out);  // what the browser applies
    };
    zorvane_node_t desktop = run("desktop", tree_of(list));  // version 1
    zorvane_node_t laptop = run("laptop", tree_of({}));      // brings version 1 in
    EXPECT_EQ(bookmarks_by_url(laptop), bookmarks_by_url(list));
    EXPECT_EQ(m_rig.history(), (std::vector<int>{1}));

    int changes = 1;
    for (int round = 0; round < 3; ++round) {
        // The desktop adds one; the laptop, whose browser lacks it, syncs:
        // it brings the addition in and commits nothing.
        list.push_back({"n" + std::to_string(round), "New " + std::to_string(round),
                        "http://example.org/new" + std::to_string(round)});
        desktop = run("desktop", tree_of(list));
        ++changes;
        laptop = run("laptop", laptop);
        EXPECT_EQ(bookmarks_by_url(laptop), bookmarks_by_url(list));
        // The laptop renames one; the desktop brings it in.
        list[0].title = "Renamed " + std::to_string(round);
        laptop = run("laptop", tree_of(list));
        ++changes;
        desktop = run("desktop", desktop);
        EXPECT_EQ(bookmarks_by_url(desktop), bookmarks_by_url(list));
        // Nothing changed anywhere: no version.
        desktop = run("desktop", desktop);
        laptop = run("laptop", laptop);
    }
    const auto versions = m_rig.history();
    ASSERT_FALSE(versions.empty());
    EXPECT_EQ(versions.front(), changes) << "one server version per change";
}

INSTANTIATE_TEST_SUITE_P(Stores, DataDirectory,
                         ::testing::Values(backend_enum::SQLITE, backend_enum::POSTGRESQL),
                         [](const auto& test) {
                             return test.param == backend_enum::SQLITE ? "sqlite" : "postgresql";
                         });

}  // namespace
}  // namespace Zorvane_Cli
