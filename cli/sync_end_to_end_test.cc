// The zorvane program against real zorvane-server processes, the same cases
// on SQLite and on PostgreSQL: two data directories ("desktop" and "laptop")
// of one account, as two computers of one person would sync.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <chrono>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "bookmarks/tree_compare.h"
#include "host_testing.h"

namespace Zorvane_Cli {
namespace {

using namespace std::chrono_literals;
using Core_Server::testing::backend_enum;
using Core_Server::testing::scratch_store_t;
using testing::bookmark_t;
using testing::bookmarks;
using testing::bookmarks_by_url;
using testing::host_rig_t;
using testing::parse_lines;
using testing::process_result_t;
using testing::tree_of;
using testing::zorvane_node_t;

constexpr const char* kInvalidPassword = "zorvane.kernel.status.invalid_password";
constexpr const char* kException = "zorvane.kernel.status.exception";

// The request-log lines of the server for `action` ("Update", "Commit",
// "OverWrite"), in order, reduced to their result.
std::vector<std::string> logged_results(const std::string& log, const std::string& action) {
    std::vector<std::string> out;
    std::istringstream in(log);
    std::string line;
    const std::string marker = " user=\"alice\" action=" + action + " result=";
    while (std::getline(in, line)) {
        const auto at = line.find(marker);
        if (at == std::string::npos) continue;
        const auto from = at + marker.size();
        out.push_back(line.substr(from, line.find(' ', from) - from));
    }
    return out;
}

class SyncEndToEnd : public ::testing::TestWithParam<backend_enum> {
protected:
    void SetUp() override {
        ZV_REQUIRE_STORE(m_scratch);
        ASSERT_NO_FATAL_FAILURE(m_rig.start(m_scratch.url()));
    }

    // Whatever a case did, every record it left opens whole.
    void TearDown() override {
        if (!m_rig.started()) return;
        for (const std::string& data : m_rig.data_dirs()) {
            if (!std::filesystem::exists(m_rig.data_dir(data) + "/zorvane.dat")) continue;
            zorvane_node_t tree;
            const auto record = m_rig.show_record(data, &tree);
            EXPECT_EQ(record.count("version"), 1u) << data;
            EXPECT_NE(tree.type, 0) << "the tree of " << data << "'s record does not read";
        }
    }

    // zorvane sync --tree (the file `name` holding `tree`); checks the
    // result and returns the output lines.
    std::map<std::string, std::string> sync(const std::string& data, const std::string& name,
                                            const zorvane_node_t& tree) {
        const auto r = m_rig.zorvane(data, {"sync", "--tree", m_rig.write_tree_file(name, tree)});
        EXPECT_EQ(r.status, 0) << data << ": " << r.out << r.err;
        auto kv = parse_lines(r.out);
        EXPECT_EQ(kv["result"], "OK") << data << ": " << r.out << r.err;
        return kv;
    }

    std::map<std::string, std::string> update(const std::string& data) {
        const auto r = m_rig.zorvane(data, {"update"});
        EXPECT_EQ(r.status, 0) << data << ": " << r.out << r.err;
        auto kv = parse_lines(r.out);
        EXPECT_EQ(kv["result"], "OK") << data << ": " << r.out << r.err;
        return kv;
    }

    // Both directories synchronised on `tree`; returns the version.
    int both_in_sync_on(const std::vector<bookmark_t>& list) {
        auto desktop = sync("desktop", "start-desktop.xml", tree_of(list));
        auto laptop = sync("laptop", "start-laptop.xml", tree_of(list));
        EXPECT_EQ(desktop["version"], laptop["version"]);
        EXPECT_EQ(record_version("desktop"), desktop["version"]);
        EXPECT_EQ(record_version("laptop"), desktop["version"]);
        return std::atoi(desktop["version"].c_str());
    }

    // The version of `data`'s record, through zorvane store show (empty
    // when it does not open; reported).
    std::string record_version(const std::string& data) {
        auto kv = m_rig.show_record(data);
        return kv["version"];
    }

    // The results the server logged for `action`, once `done` holds for
    // them or 30 s have passed. The server writes a request's line after its
    // reply has gone, so a line may come a moment after the client is done.
    template <class Done>
    std::vector<std::string> logged(const std::string& action, Done done) {
        const auto give_up = std::chrono::steady_clock::now() + 30s;
        for (;;) {
            auto results = logged_results(m_rig.server().log(), action);
            if (done(results) || std::chrono::steady_clock::now() >= give_up) return results;
            std::this_thread::sleep_for(20ms);
        }
    }

    // zorvane update for `data`, repeated until its result is `result` or
    // `limit` passes; the last run.
    process_result_t update_until(const std::string& data, const std::string& result,
                                  std::chrono::seconds limit) {
        const auto give_up = std::chrono::steady_clock::now() + limit;
        for (;;) {
            auto r = m_rig.zorvane(data, {"update"});
            if (parse_lines(r.out)["result"] == result ||
                std::chrono::steady_clock::now() >= give_up) {
                return r;
            }
            std::this_thread::sleep_for(100ms);
        }
    }

    scratch_store_t m_scratch{GetParam()};
    host_rig_t m_rig;
};

// The first sync of a data directory over an account that holds a tree
// merges without deleting: after desktop, laptop and desktop again, both
// directories hold every bookmark of both files.
TEST_P(SyncEndToEnd, FirstSyncsOfTwoDirectoriesKeepTheUnion) {
    const auto shared = bookmarks(3, "shared");
    const auto desktop_only = bookmarks(4, "desk");
    const auto laptop_only = bookmarks(3, "lap");
    const auto laptop_bar = bookmarks(1, "bar");
    const auto desktop_file = tree_of(shared + desktop_only);
    const auto laptop_file = tree_of(shared + laptop_only, laptop_bar);

    auto kv = sync("desktop", "desktop.xml", desktop_file);
    EXPECT_EQ(kv["version"], "1");
    EXPECT_EQ(kv["nodes"], "9");

    kv = sync("laptop", "laptop.xml", laptop_file);
    EXPECT_EQ(kv["version"], "2");
    // root, menu, toolbar, 3 shared, 4 + 3 + 1 own.
    EXPECT_EQ(kv["nodes"], "14");

    // The desktop's file has not changed since its last sync: its sync
    // brings the laptop's bookmarks in and removes nothing.
    kv = sync("desktop", "desktop.xml", desktop_file);
    EXPECT_EQ(kv["version"], "2");
    EXPECT_EQ(kv["nodes"], "14");

    const auto everything = bookmarks_by_url(shared + desktop_only + laptop_only + laptop_bar);
    const zorvane_node_t desktop = m_rig.exported("desktop");
    const zorvane_node_t laptop = m_rig.exported("laptop");
    EXPECT_EQ(bookmarks_by_url(desktop), everything);
    EXPECT_EQ(bookmarks_by_url(laptop), everything);
    EXPECT_TRUE(Core_ZorvaneMerge::trees_equal(desktop, laptop));
    EXPECT_EQ(record_version("desktop"), "2");
    EXPECT_EQ(record_version("laptop"), "2");
    EXPECT_EQ(m_rig.history(), (std::vector<int>{2, 1}));
}

// A file synced again unchanged is not read again: the data directory's
// memo knows it holds the stored tree (the memo is then left as it is). Any
// change, even one that keeps the file's size, is read and synchronised;
// a damaged memo only means the file is read.
TEST_P(SyncEndToEnd, AFileSyncedAgainIsReadAgainOnlyWhenItChanged) {
    auto list = bookmarks(4, "desk");
    auto kv = sync("desktop", "desktop.xml", tree_of(list));
    EXPECT_EQ(kv["version"], "1");
    const std::string memo = m_rig.data_dir("desktop") + "/tree-file.memo";
    struct stat before {};
    ASSERT_EQ(stat(memo.c_str(), &before), 0) << "the first sync leaves a memo";
    EXPECT_EQ(before.st_mode & 0777, 0600u);

    kv = sync("desktop", "desktop.xml", tree_of(list));
    EXPECT_EQ(kv["version"], "1");
    EXPECT_EQ(kv["nodes"], "6");
    struct stat after {};
    ASSERT_EQ(stat(memo.c_str(), &after), 0);
    EXPECT_EQ(after.st_ino, before.st_ino) << "the memo knew the file, and was not written again";

    list[2].title = "Site desk7";
    kv = sync("desktop", "desktop.xml", tree_of(list));
    EXPECT_EQ(kv["version"], "2");
    EXPECT_EQ(bookmarks_by_url(m_rig.exported("desktop")), bookmarks_by_url(list));

    std::ofstream(memo, std::ios::binary | std::ios::trunc)
        << "zorvane tree file memo 1\nform xml\n";
    const std::string out = m_rig.path("out.xml");
    const auto r = m_rig.zorvane(
        "desktop",
        {"sync", "--tree", m_rig.write_tree_file("desktop.xml", tree_of(list)), "--out", out});
    EXPECT_EQ(parse_lines(r.out)["result"], "OK") << r.out << r.err;
    EXPECT_EQ(parse_lines(r.out)["version"], "2");
    zorvane_node_t written;
    Core_ZorvaneMerge::read_tree(testing::read_file(out), written);
    EXPECT_EQ(bookmarks_by_url(written), bookmarks_by_url(list));
    EXPECT_EQ(m_rig.history(), (std::vector<int>{2, 1}));
}

// Both at version V; desktop commits V+1; laptop, still at V, commits its
// own edits, is told INVALID_VERSION, merges and commits V+2 once.
TEST_P(SyncEndToEnd, ConcurrentEditsAreMergedAfterInvalidVersion) {
    const auto base = bookmarks(6, "a");
    const int v = both_in_sync_on(base);

    auto desktop_list = base + bookmarks(2, "desk");
    desktop_list[1].title = "Renamed on the desktop";
    auto kv = sync("desktop", "desktop-edit.xml", tree_of(desktop_list));
    ASSERT_EQ(kv["version"], std::to_string(v + 1));

    auto laptop_list = base + bookmarks(2, "lap");
    laptop_list.erase(laptop_list.begin() + 3);  // a3
    const std::string merged_file = m_rig.path("laptop-merged.xml");
    const auto r = m_rig.zorvane(
        "laptop", {"sync", "--tree", m_rig.write_tree_file("laptop-edit.xml", tree_of(laptop_list)),
                   "--out", merged_file});
    ASSERT_EQ(r.status, 0) << r.out << r.err;
    kv = parse_lines(r.out);
    EXPECT_EQ(kv["result"], "OK");
    EXPECT_EQ(kv["version"], std::to_string(v + 2));

    // The merge: the desktop's additions and rename, the laptop's additions
    // and deletion.
    auto expected = desktop_list + bookmarks(2, "lap");
    expected.erase(expected.begin() + 3);
    const auto wanted = bookmarks_by_url(expected);
    zorvane_node_t merged;
    Core_ZorvaneMerge::read_tree(testing::read_file(merged_file), merged);
    EXPECT_EQ(bookmarks_by_url(merged), wanted);
    const zorvane_node_t laptop = m_rig.exported("laptop");
    EXPECT_TRUE(Core_ZorvaneMerge::trees_equal(laptop, merged));

    // The server refused the laptop's commit once, then took the merged one;
    // nothing else was committed after it.
    const auto commits = logged("Commit", [](const std::vector<std::string>& results) {
        const auto refused = std::find(results.begin(), results.end(), "INVALID_VERSION");
        return refused != results.end() && refused + 1 != results.end();
    });
    ASSERT_EQ(std::count(commits.begin(), commits.end(), "INVALID_VERSION"), 1)
        << m_rig.server().log();
    ASSERT_GE(commits.size(), 2u);
    EXPECT_EQ(commits[commits.size() - 2], "INVALID_VERSION") << m_rig.server().log();
    EXPECT_EQ(commits.back(), "OK") << m_rig.server().log();
    EXPECT_EQ(m_rig.history(), (std::vector<int>{v + 2, v + 1, v}));

    // The desktop's update brings the same tree.
    kv = update("desktop");
    EXPECT_EQ(kv["version"], std::to_string(v + 2));
    const zorvane_node_t desktop = m_rig.exported("desktop");
    EXPECT_EQ(bookmarks_by_url(desktop), wanted);
    EXPECT_TRUE(Core_ZorvaneMerge::trees_equal(desktop, laptop));
    EXPECT_EQ(record_version("desktop"), std::to_string(v + 2));
    EXPECT_EQ(record_version("laptop"), std::to_string(v + 2));

    // The desktop's browser takes the merged tree in; syncing it changes
    // nothing on the server.
    kv = sync("desktop", "desktop-applied.xml", desktop);
    EXPECT_EQ(kv["version"], std::to_string(v + 2));
    EXPECT_EQ(m_rig.history(), (std::vector<int>{v + 2, v + 1, v}));
}

// overwrite replaces the account's tree whatever version the other
// directory committed since.
TEST_P(SyncEndToEnd, OverwriteReplacesTheAccountTree) {
    const auto base = bookmarks(5, "a");
    const int v = both_in_sync_on(base);

    auto kv = sync("desktop", "desktop-edit.xml", tree_of(base + bookmarks(3, "desk")));
    ASSERT_EQ(kv["version"], std::to_string(v + 1));

    // Still at V, the laptop replaces the account's tree by its file: one
    // bookmark gone, one renamed, two new, one moved to the toolbar.
    auto replacement = base;
    replacement.erase(replacement.begin());
    replacement[0].title = "Renamed by the overwrite";
    const auto bar = std::vector<bookmark_t>{replacement.back()};
    replacement.pop_back();
    replacement = replacement + bookmarks(2, "over");
    const zorvane_node_t file = testing::as_read(tree_of(replacement, bar));
    const auto r = m_rig.zorvane(
        "laptop", {"overwrite", "--tree", m_rig.write_tree_file("overwrite.xml", file)});
    ASSERT_EQ(r.status, 0) << r.out << r.err;
    kv = parse_lines(r.out);
    EXPECT_EQ(kv["result"], "OK");
    EXPECT_EQ(kv["version"], std::to_string(v + 2));
    EXPECT_TRUE(Core_ZorvaneMerge::trees_equal(m_rig.exported("laptop"), file));
    EXPECT_EQ(logged("OverWrite", [](const auto& results) { return !results.empty(); }),
              std::vector<std::string>{"OK"});
    EXPECT_EQ(m_rig.history(), (std::vector<int>{v + 2, v + 1, v}));

    // The desktop's next update brings exactly the overwritten tree: its own
    // additions of V+1 are gone from the account.
    kv = update("desktop");
    EXPECT_EQ(kv["version"], std::to_string(v + 2));
    const zorvane_node_t desktop = m_rig.exported("desktop");
    EXPECT_TRUE(Core_ZorvaneMerge::trees_equal(desktop, file));
    EXPECT_EQ(bookmarks_by_url(desktop), bookmarks_by_url(replacement + bar));
    zorvane_node_t recorded;
    EXPECT_EQ(m_rig.show_record("desktop", &recorded)["version"], std::to_string(v + 2));
    EXPECT_TRUE(Core_ZorvaneMerge::trees_equal(recorded, file));

    // The laptop's file is the account's tree now: syncing it again makes
    // no new version.
    kv = sync("laptop", "overwrite-again.xml", file);
    EXPECT_EQ(kv["version"], std::to_string(v + 2));
    EXPECT_EQ(m_rig.history(), (std::vector<int>{v + 2, v + 1, v}));
}

// A wrong password is refused and leaves the data directory as it was.
TEST_P(SyncEndToEnd, WrongPasswordChangesNothing) {
    const auto list = bookmarks(4, "a");
    auto kv = sync("desktop", "desktop.xml", tree_of(list));
    ASSERT_EQ(kv["result"], "OK");
    const std::string version = kv["version"];
    const auto before = testing::directory_bytes(m_rig.data_dir("desktop"));
    ASSERT_EQ(before.count("zorvane.dat"), 1u);

    const std::string edited =
        m_rig.write_tree_file("edited.xml", tree_of(list + bookmarks(1, "n")));
    for (const std::vector<std::string>& args : {std::vector<std::string>{"sync", "--tree", edited},
                                                 {"update"},
                                                 {"overwrite", "--tree", edited}}) {
        const auto r = m_rig.zorvane("desktop", args, "", "not the password");
        EXPECT_EQ(r.status, 1) << args[0] << ": " << r.out << r.err;
        EXPECT_EQ(parse_lines(r.out)["result"], kInvalidPassword) << args[0] << ": " << r.out;
        EXPECT_TRUE(
            testing::same_files(before, testing::directory_bytes(m_rig.data_dir("desktop"))))
            << args[0];
    }
    // Each of the three was refused at its first request; nothing was
    // committed after the first sync.
    const auto updates = logged("Update", [](const std::vector<std::string>& results) {
        return std::count(results.begin(), results.end(), "INVALID_PASSWORD") >= 3;
    });
    EXPECT_EQ(std::count(updates.begin(), updates.end(), "INVALID_PASSWORD"), 3)
        << m_rig.server().log();
    EXPECT_EQ(logged_results(m_rig.server().log(), "Commit"), std::vector<std::string>{"OK"});
    EXPECT_TRUE(logged_results(m_rig.server().log(), "OverWrite").empty());

    // The right password still opens the record and syncs.
    EXPECT_EQ(record_version("desktop"), version);
    EXPECT_EQ(update("desktop")["version"], version);
    EXPECT_EQ(m_rig.history(), std::vector<int>{std::stoi(version)});
}

// Maintenance switched on by the operator while the server runs: syncs fail
// with the exception key and change nothing; switched off, they work again.
TEST_P(SyncEndToEnd, MaintenanceStopsSyncsUntilSwitchedOff) {
    const auto list = bookmarks(3, "a");
    auto kv = sync("desktop", "desktop.xml", tree_of(list));
    ASSERT_EQ(kv["result"], "OK");
    const std::string version = kv["version"];
    zorvane_node_t tree_before;
    const auto record_before = m_rig.show_record("desktop", &tree_before);

    auto r = m_rig.server_command({"maintenance", "on"});
    ASSERT_EQ(r.status, 0) << r.out << r.err;
    // Servers pick the switch up within seconds.
    r = update_until("desktop", kException, 30s);
    EXPECT_EQ(r.status, 1) << r.out << r.err;
    ASSERT_EQ(parse_lines(r.out)["result"], kException) << r.out << r.err;

    const std::string edited =
        m_rig.write_tree_file("edited.xml", tree_of(list + bookmarks(1, "m")));
    r = m_rig.zorvane("desktop", {"sync", "--tree", edited});
    EXPECT_EQ(r.status, 1) << r.out << r.err;
    EXPECT_EQ(parse_lines(r.out)["result"], kException);
    // A data directory's first sync is refused too.
    r = m_rig.zorvane("laptop", {"sync", "--tree", edited});
    EXPECT_EQ(r.status, 1) << r.out << r.err;
    EXPECT_EQ(parse_lines(r.out)["result"], kException);
    // The record is what the last sync left (a failed sync may write it
    // again, unchanged).
    zorvane_node_t tree_after;
    EXPECT_EQ(m_rig.show_record("desktop", &tree_after), record_before);
    EXPECT_TRUE(Core_ZorvaneMerge::trees_equal(tree_after, tree_before));
    EXPECT_FALSE(std::filesystem::exists(m_rig.data_dir("laptop") + "/zorvane.dat"));
    const auto commits = logged("Commit", [](const std::vector<std::string>& results) {
        return std::find(results.begin(), results.end(), "MAINTENANCE") != results.end();
    });
    EXPECT_EQ(commits, (std::vector<std::string>{"OK", "MAINTENANCE"})) << m_rig.server().log();
    EXPECT_EQ(m_rig.history(), std::vector<int>{std::stoi(version)});

    r = m_rig.server_command({"maintenance", "off"});
    ASSERT_EQ(r.status, 0) << r.out << r.err;
    r = update_until("desktop", "OK", 30s);
    ASSERT_EQ(parse_lines(r.out)["result"], "OK") << r.out << r.err;
    EXPECT_EQ(r.status, 0);
    auto synced = sync("desktop", "edited-again.xml", tree_of(list + bookmarks(1, "m")));
    EXPECT_EQ(synced["version"], std::to_string(std::stoi(version) + 1));
    EXPECT_EQ(bookmarks_by_url(m_rig.exported("desktop")),
              bookmarks_by_url(list + bookmarks(1, "m")));
}

INSTANTIATE_TEST_SUITE_P(Stores, SyncEndToEnd,
                         ::testing::Values(backend_enum::SQLITE, backend_enum::POSTGRESQL),
                         [](const auto& test) {
                             return test.param == backend_enum::SQLITE ? "sqlite" : "postgresql";
                         });

}  // namespace
}  // namespace Zorvane_Cli
