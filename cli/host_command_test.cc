#include "host_command.h"

#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <fstream>
#include <string>
#include <vector>

#include "host_testing.h"
#include "mass_delete_guard.h"

namespace Zorvane_Cli {
namespace {

using Core_Server::testing::run_process;
using testing::make_tree;
using testing::parse_lines;
using testing::read_file;
using testing::zorvane_node_t;

// ---- The guard, as a pure function ----

TEST(MassDeleteGuard, CountsRemovedBookmarksAndAppliesBothLimits) {
    const zorvane_node_t ten = make_tree(10, "a");
    EXPECT_EQ(count_removals(ten, ten).removed, 0u);
    EXPECT_EQ(count_removals(ten, make_tree(5, "a")).removed, 5u);
    EXPECT_FALSE(is_mass_delete(count_removals(ten, make_tree(5, "a"))));  // exactly half
    EXPECT_TRUE(is_mass_delete(count_removals(ten, make_tree(4, "a"))));
    EXPECT_TRUE(is_mass_delete(count_removals(ten, make_tree(0, "a"))));
    // Additions never count; renamed identifiers do.
    EXPECT_TRUE(is_mass_delete(count_removals(ten, make_tree(10, "b"))));
    // More than 1000 is refused even when it is less than half.
    EXPECT_TRUE(is_mass_delete({3000, 1001}));
    EXPECT_FALSE(is_mass_delete({3000, 1000}));
    EXPECT_FALSE(is_mass_delete({0, 0}));
    EXPECT_EQ(node_count(ten), 12u);
    EXPECT_EQ(node_count(zorvane_node_t()), 0u);
}

// ---- The program against a real server ----

class HostProgram : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_NO_FATAL_FAILURE(rig.start("sqlite:" + rig.path("server.db"))); }

    std::string write_tree_file(const std::string& name, const zorvane_node_t& tree) {
        return rig.write_tree_file(name, tree);
    }
    testing::process_result_t zorvane(
        const std::string& data, std::vector<std::string> args,
        const std::string& input = std::string(),
        const std::string& password = testing::host_rig_t::kPassword) {
        return rig.zorvane(data, args, input, password);
    }

    testing::host_rig_t rig;
};

TEST_F(HostProgram, FirstSyncSyncOverwriteAndExport) {
    const std::string ten = write_tree_file("ten.xml", make_tree(10, "a"));
    auto r = zorvane("one", {"sync", "--tree", ten});
    ASSERT_EQ(r.status, 0) << r.out << r.err;
    auto kv = parse_lines(r.out);
    EXPECT_EQ(kv["result"], "OK");
    EXPECT_EQ(kv["nodes"], "12");
    EXPECT_EQ(kv["date"].size(), 19u);
    const std::string first_version = kv["version"];

    r = zorvane("one", {"status"});
    ASSERT_EQ(r.status, 0) << r.err;
    kv = parse_lines(r.out);
    EXPECT_EQ(kv["user"], "alice");
    EXPECT_EQ(kv["verified"], "1");
    EXPECT_EQ(kv["version"], first_version);
    EXPECT_EQ(kv["status"], "zorvane.kernel.status.idle");

    // Nothing changed: the sync is still a success at the same version.
    r = zorvane("one", {"sync", "--tree", ten});
    ASSERT_EQ(r.status, 0) << r.out << r.err;
    EXPECT_EQ(parse_lines(r.out)["version"], first_version);
    r = zorvane("one", {"update"});
    ASSERT_EQ(r.status, 0) << r.out << r.err;

    // A second data directory with other bookmarks: its first sync merges
    // both sides, nothing lost.
    const std::string other = write_tree_file("other.xml", make_tree(3, "z"));
    r = zorvane("two", {"sync", "--tree", other, "--out", rig.path("merged.xml")});
    ASSERT_EQ(r.status, 0) << r.out << r.err;
    EXPECT_EQ(parse_lines(r.out)["nodes"], "15");
    const std::string merged = read_file(rig.path("merged.xml"));
    EXPECT_NE(merged.find("http://example.org/a9"), std::string::npos);
    EXPECT_NE(merged.find("http://example.org/z2"), std::string::npos);

    // The first directory catches up with an update.
    r = zorvane("one", {"update"});
    ASSERT_EQ(r.status, 0) << r.out << r.err;
    EXPECT_EQ(parse_lines(r.out)["nodes"], "15");

    // The guard: dropping most bookmarks is refused, then allowed.
    const std::string two = write_tree_file("two.xml", make_tree(2, "a"));
    r = zorvane("one", {"sync", "--tree", two});
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("--allow-mass-delete"), std::string::npos);
    r = zorvane("one", {"overwrite", "--tree", two});
    EXPECT_EQ(r.status, 1);
    r = zorvane("one", {"overwrite", "--tree", two, "--allow-mass-delete"});
    ASSERT_EQ(r.status, 0) << r.out << r.err;
    EXPECT_EQ(parse_lines(r.out)["nodes"], "4");

    r = zorvane("one", {"export", "--out", rig.path("export.xml")});
    ASSERT_EQ(r.status, 0) << r.err;
    const std::string exported = read_file(rig.path("export.xml"));
    EXPECT_NE(exported.find("http://example.org/a1"), std::string::npos);
    EXPECT_EQ(exported.find("http://example.org/a2"), std::string::npos);

    r = zorvane("one", {"roots-unchanged", "--tree", two});
    EXPECT_EQ(parse_lines(r.out)["unchanged"], "1");
    r = zorvane("one", {"merge-browser-tree", "--tree", other});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find("http://example.org/z0"), std::string::npos);
}

TEST_F(HostProgram, BookmarkFileHtmlSyncsAndExportsRoundTrip) {
    const std::string html = rig.path("bookmarks.html");
    std::ofstream(html, std::ios::binary)
        << "<!DOCTYPE NETSCAPE-Bookmark-file-1>\n<DL><p>\n"
           "<DT><H3 PERSONAL_TOOLBAR_FOLDER=\"true\">Toolbar</H3>\n<DL><p>\n"
           "<DT><A HREF=\"http://one.example/\" TAGS=\"t\">One</A>\n<DD>first\n</DL><p>\n"
           "<DT><A HREF=\"http://two.example/\">Two</A>\n<HR>\n</DL><p>\n";
    auto r = zorvane("h", {"sync", "--format", "html", "--tree", html});
    ASSERT_EQ(r.status, 0) << r.out << r.err;
    const std::string version = parse_lines(r.out)["version"];

    // The same file again: the same identifiers, so nothing changes.
    r = zorvane("h", {"sync", "--format", "html", "--tree", html});
    ASSERT_EQ(r.status, 0) << r.out << r.err;
    EXPECT_EQ(parse_lines(r.out)["version"], version);

    const std::string exported = rig.path("exported.html");
    r = zorvane("h", {"export", "--format", "html", "--out", exported});
    ASSERT_EQ(r.status, 0) << r.err;
    const std::string text = read_file(exported);
    EXPECT_NE(text.find("PERSONAL_TOOLBAR_FOLDER"), std::string::npos);
    EXPECT_NE(text.find("http://one.example/"), std::string::npos);
    EXPECT_NE(text.find("<DD>first"), std::string::npos);
    // The exported file syncs as no change at all.
    r = zorvane("h", {"sync", "--format", "html", "--tree", exported});
    ASSERT_EQ(r.status, 0) << r.out << r.err;
    EXPECT_EQ(parse_lines(r.out)["version"], version);

    EXPECT_EQ(zorvane("h", {"sync", "--format", "rtf", "--tree", html}).status, 2);
}

TEST_F(HostProgram, NodeCountsHoldForTitlesThatLookLikeMarkup) {
    zorvane_node_t tree = make_tree(3, "m");
    tree.children[0].children[0].title = u"<node></node><node>";
    tree.children[0].children[1].title = u"&lt;node&gt; <nodeset>";
    zorvane_node_t folder;
    folder.guid = "f";
    folder.type = Core_ZorvaneMerge::NODE_FOLDER;
    folder.title = u"<node>";
    folder.children.push_back(tree.children[0].children[2]);
    folder.children[0].guid = "inner";
    tree.children[0].children.push_back(folder);
    const std::string path = write_tree_file("markup.xml", tree);
    auto r = zorvane("m", {"sync", "--tree", path});
    ASSERT_EQ(r.status, 0) << r.out << r.err;
    EXPECT_EQ(parse_lines(r.out)["nodes"], "7");
    r = zorvane("m", {"update"});
    ASSERT_EQ(r.status, 0) << r.out << r.err;
    EXPECT_EQ(parse_lines(r.out)["nodes"], "7");
    r = zorvane("m", {"sync", "--tree", path, "--out", rig.path("markup-out.xml")});
    ASSERT_EQ(r.status, 0) << r.out << r.err;
    EXPECT_EQ(parse_lines(r.out)["nodes"], "7");
    r = zorvane("m", {"export", "--out", rig.path("markup-export.xml")});
    EXPECT_EQ(parse_lines(r.out)["nodes"], "7");
}

TEST_F(HostProgram, NotesForgetAndWipe) {
    const std::string tree = write_tree_file("t.xml", make_tree(2, "n"));
    ASSERT_EQ(zorvane("d", {"sync", "--tree", tree}).status, 0);

    auto r = zorvane("d", {"note", "set"}, "call the bank\nsoon");
    ASSERT_EQ(r.status, 0) << r.err;
    r = zorvane("d", {"note", "get"});
    EXPECT_EQ(r.out, "call the bank\nsoon");
    r = zorvane("d", {"note", "delete"});
    r = zorvane("d", {"note", "get"});
    EXPECT_EQ(r.out, "");

    r = zorvane("d", {"forget"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(parse_lines(zorvane("d", {"status"}).out)["version"], "-1");

    ASSERT_EQ(zorvane("d", {"update"}).status, 0);
    EXPECT_NE(parse_lines(zorvane("d", {"status"}).out)["version"], "-1");
    EXPECT_EQ(zorvane("d", {"wipe"}).status, 0);
    EXPECT_EQ(parse_lines(zorvane("d", {"status"}).out)["version"], "-1");
}

TEST_F(HostProgram, FailuresAndUsage) {
    auto r = zorvane("d", {"update"}, "", "not the password");
    const std::string data = rig.data_dir("d");
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(parse_lines(r.out)["result"], "zorvane.kernel.status.invalid_password");

    // A server that accepts connections and never answers: the request's
    // deadline (--timeout) ends it as a failure, well before the host would
    // give up waiting.
    const int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ASSERT_EQ(bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
    ASSERT_EQ(listen(fd, 8), 0);
    socklen_t size = sizeof addr;
    getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &size);
    const std::string silent = "127.0.0.1:" + std::to_string(ntohs(addr.sin_port));
    r = run_process(ZV_ZORVANE_BINARY,
                    {"update", "--data-dir", data, "--server", silent, "--user", "alice",
                     "--password-stdin", "--timeout", "1"},
                    {}, "pw\n");
    EXPECT_EQ(r.status, 1) << r.out << r.err;
    EXPECT_EQ(parse_lines(r.out)["result"], "zorvane.kernel.status.connect_failed");
    close(fd);

    // Nobody listening: the status key says so.
    r = run_process(
        ZV_ZORVANE_BINARY,
        {"update", "--data-dir", data, "--server", silent, "--user", "alice", "--password-stdin"},
        {}, "pw\n");
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(parse_lines(r.out)["result"], "zorvane.kernel.status.connect_failed");

    for (const std::vector<std::string>& args : std::vector<std::vector<std::string>>{
             {"update", "--data-dir", data, "--user", "alice", "--password", "x"},
             {"sync", "--data-dir", data, "--user", "alice", "--password-stdin"},
             {"update", "--data-dir", "", "--user", "alice", "--password-stdin"},
             {"frobnicate"},
             {"note", "--data-dir", data, "--user", "alice"},
             {"update", "--data-dir", data, "--user", "alice", "--timeout", "soon",
              "--password-stdin"},
             // A malformed port is refused, not read as port 80; an IPv6
             // literal needs its brackets.
             {"update", "--data-dir", data, "--server", "127.0.0.1:80.5", "--user", "alice",
              "--password-stdin"},
             {"update", "--data-dir", data, "--server", "::1", "--user", "alice",
              "--password-stdin"},
         }) {
        r = run_process(ZV_ZORVANE_BINARY, args, {}, "pw\n");
        EXPECT_EQ(r.status, 2) << args[0] << ": " << r.err;
        EXPECT_FALSE(r.err.empty());
    }
    r = run_process(ZV_ZORVANE_BINARY, {"--help"});
    EXPECT_EQ(r.status, 0);
    for (const char* word : {"update", "sync", "overwrite", "export", "note", "forget", "wipe",
                             "--password-env", "--allow-mass-delete", "tree", "store"}) {
        EXPECT_NE(r.out.find(word), std::string::npos) << word;
    }
}

// A tree file that does not read stops the command before anything is sent
// or written, although the component opens while the file is being read.
TEST_F(HostProgram, UnreadableTreeFilesStopBeforeAnythingIsSentOrWritten) {
    const std::string data = rig.data_dir("fresh");
    const std::string record = data + "/zorvane.dat";
    const std::string not_html = rig.path("not-bookmarks.html");
    std::ofstream(not_html) << "<html><body><p>no list here</p></body></html>";
    const std::string not_xml = rig.path("not-a-tree.xml");
    std::ofstream(not_xml) << "<nodeset><broken>";

    auto r = zorvane("fresh", {"sync", "--tree", rig.path("missing.xml")});
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("cannot read the tree file"), std::string::npos) << r.err;
    r = zorvane("fresh", {"sync", "--format", "html", "--tree", not_html});
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("no bookmark list in this file"), std::string::npos) << r.err;
    r = zorvane("fresh", {"overwrite", "--tree", not_xml});
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("is not a bookmark tree document"), std::string::npos) << r.err;
    EXPECT_EQ(r.out.find("result="), std::string::npos) << "nothing was sent: " << r.out;
    EXPECT_FALSE(std::filesystem::exists(record)) << "a first sync brought nothing in";

    // With a record: a bad file leaves the record file as it was.
    const std::string three = write_tree_file("three.xml", make_tree(3, "a"));
    r = zorvane("fresh", {"sync", "--tree", three});
    ASSERT_EQ(r.status, 0) << r.out << r.err;
    const std::string before = read_file(record);
    r = zorvane("fresh", {"sync", "--tree", not_xml});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(read_file(record), before);
    r = zorvane("fresh", {"roots-unchanged", "--tree", not_xml});
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("is not a bookmark tree document"), std::string::npos) << r.err;
}

// The sample exports of two browsers share bookmarks, some filed in other
// folders. After the desktop syncs, the laptop's first sync and the
// desktop's second, both hold the same bookmarks: every address once.
TEST_F(HostProgram, TwoBrowsersSharedBookmarksEndUpOnceOnBothSides) {
    const std::string desktop = std::string(ZV_EXAMPLES_DIR) + "/desktop-bookmarks.html";
    const std::string laptop = std::string(ZV_EXAMPLES_DIR) + "/laptop-bookmarks.html";
    auto r = zorvane("desktop", {"sync", "--format", "html", "--tree", desktop});
    ASSERT_EQ(r.status, 0) << r.out << r.err;
    r = zorvane("laptop",
                {"sync", "--format", "html", "--tree", laptop, "--out", rig.path("laptop.html")});
    ASSERT_EQ(r.status, 0) << r.out << r.err;
    r = zorvane("desktop",
                {"sync", "--format", "html", "--tree", desktop, "--out", rig.path("desktop.html")});
    ASSERT_EQ(r.status, 0) << r.out << r.err;

    const std::string mine = read_file(rig.path("desktop.html"));
    EXPECT_EQ(mine, read_file(rig.path("laptop.html")));
    std::map<std::string, int> expected;
    for (const std::string& text : {read_file(desktop), read_file(laptop)}) {
        for (auto at = text.find("HREF=\""); at != std::string::npos;
             at = text.find("HREF=\"", at + 1)) {
            const auto end = text.find('"', at + 6);
            expected[text.substr(at + 6, end - at - 6)] = 1;
        }
    }
    ASSERT_GT(expected.size(), 10u);
    std::map<std::string, int> synced;
    for (auto at = mine.find("HREF=\""); at != std::string::npos;
         at = mine.find("HREF=\"", at + 1)) {
        const auto end = mine.find('"', at + 6);
        // Addresses are written in their display form: count them, and
        // compare the number of different ones.
        ++synced[mine.substr(at + 6, end - at - 6)];
    }
    EXPECT_EQ(synced.size(), expected.size());
    for (const auto& [address, count] : synced) EXPECT_EQ(count, 1) << address;
}

}  // namespace
}  // namespace Zorvane_Cli
