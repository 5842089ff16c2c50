#include "store_command.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <sstream>

#include "arguments.h"
#include "bookmarks/tree_compare.h"
#include "bookmarks/tree_xml.h"
#include "command.h"
#include "common/whole_file.h"
#include "sync_client/local_store.h"

namespace Zorvane_Cli {
namespace {

using Core_ZorvaneMerge::zorvane_node_t;

const char kTree[] =
    "<nodeset><node><guid>ROOT</guid><type>folder</type><name>R</name><children>"
    "<node><guid>F</guid><type>folder</type><name>F</name><children>"
    "<node><guid>A</guid><type>bookmark</type><name>A</name><url>http://a.example/</url></node>"
    "</children></node>"
    "<node><guid>B</guid><type>bookmark</type><name>B</name><url>http://b.example/</url></node>"
    "</children></node></nodeset>";

class StoreCommand : public ::testing::Test {
protected:
    void SetUp() override {
        const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
        m_dir =
            std::filesystem::path(::testing::TempDir()) /
            ("zorvane_store_cli_" + std::string(info->name()) + "_" + std::to_string(::getpid()));
        std::filesystem::remove_all(m_dir);
        std::filesystem::create_directories(m_dir);
        ::setenv("ZORVANE_STORE_TEST_PASSWORD", "pa55", 1);

        // The record as the engine writes it.
        Core_ZorvaneClient::account_t account;
        account.user_name = u"alice";
        account.password = u"pa55";
        Core_ZorvaneClient::sync_record_t record;
        record.version = 17;
        record.date = "2026-03-04 05:06:07";
        Core_ZorvaneMerge::read_tree(kTree, record.tree);
        ASSERT_TRUE(Core_ZorvaneClient::save_record_file(wide_dir(), account, record, "Tarnwick"));
    }
    void TearDown() override {
        ::unsetenv("ZORVANE_STORE_TEST_PASSWORD");
        std::error_code ec;
        std::filesystem::remove_all(m_dir, ec);
    }
    std::u16string wide_dir() const {
        const std::string s = m_dir.string();
        return std::u16string(s.begin(), s.end());
    }
    int run(std::vector<std::string> args, const std::string& input = "") {
        m_out.str("");
        m_err.str("");
        std::istringstream in(input);
        args.insert(args.begin(), "show");
        return run_store_command(args, in, m_out, m_err);
    }
    std::vector<std::string> base(const std::string& user = "alice") const {
        return {"--data-dir", m_dir.string(),   "--user",
                user,         "--password-env", "ZORVANE_STORE_TEST_PASSWORD"};
    }
    int lines_of_err() const {
        const std::string e = m_err.str();
        return static_cast<int>(std::count(e.begin(), e.end(), '\n'));
    }

    std::filesystem::path m_dir;
    std::ostringstream m_out, m_err;
};

TEST_F(StoreCommand, ShowsTheRecordTheEngineWrote) {
    ASSERT_EQ(run(base()), kExitOk) << m_err.str();
    EXPECT_EQ(m_out.str(),
              "user=alice\nversion=17\ndate=2026-03-04 05:06:07\nclient_type=Tarnwick\nnodes=4\n");
    EXPECT_EQ(m_err.str(), "");

    std::vector<std::string> with_stdin = {"--data-dir=" + m_dir.string(), "--user=alice",
                                           "--password-stdin"};
    ASSERT_EQ(run(with_stdin, "pa55\n"), kExitOk) << m_err.str();
    EXPECT_NE(m_out.str().find("version=17\n"), std::string::npos);
}

TEST_F(StoreCommand, WritesTheTreeOnRequest) {
    const std::string out = (m_dir / "tree.xml").string();
    std::vector<std::string> args = base();
    args.insert(args.end(), {"--tree", out});
    ASSERT_EQ(run(args), kExitOk) << m_err.str();
    std::string document;
    ASSERT_TRUE(Core_Common::read_whole_file(std::u16string(out.begin(), out.end()), document));
    zorvane_node_t written, expected;
    Core_ZorvaneMerge::read_tree(document, written);
    Core_ZorvaneMerge::read_tree(kTree, expected);
    EXPECT_TRUE(Core_ZorvaneMerge::trees_equal(written, expected));
}

TEST_F(StoreCommand, RecordsThatDoNotOpenGiveOneLineAndStatus1) {
    EXPECT_EQ(run(base("bob")), kExitFailure);
    EXPECT_NE(m_err.str().find("another user"), std::string::npos) << m_err.str();
    EXPECT_EQ(lines_of_err(), 1);
    EXPECT_EQ(m_out.str(), "");

    EXPECT_EQ(run(base("Alice")), kExitFailure);
    EXPECT_NE(m_err.str().find("another user"), std::string::npos);

    ::setenv("ZORVANE_STORE_TEST_PASSWORD", "wrong", 1);
    EXPECT_EQ(run(base()), kExitFailure);
    EXPECT_NE(m_err.str().find("another password"), std::string::npos);
    EXPECT_EQ(lines_of_err(), 1);
    ::setenv("ZORVANE_STORE_TEST_PASSWORD", "pa55", 1);

    const std::string file = (m_dir / "zorvane.dat").string();
    std::string bytes;
    ASSERT_TRUE(Core_Common::read_whole_file(std::u16string(file.begin(), file.end()), bytes));
    bytes[bytes.size() / 2] ^= 0x5A;
    ASSERT_TRUE(Core_Common::write_whole_file(std::u16string(file.begin(), file.end()), bytes));
    EXPECT_EQ(run(base()), kExitFailure);
    EXPECT_NE(m_err.str().find("damaged"), std::string::npos) << m_err.str();
    EXPECT_EQ(lines_of_err(), 1);

    std::filesystem::remove(file);
    EXPECT_EQ(run(base()), kExitFailure);
    EXPECT_EQ(lines_of_err(), 1);
}

TEST_F(StoreCommand, UsageErrorsExitWith2) {
    const std::string dir = m_dir.string();
    const std::vector<std::vector<std::string>> wrong = {
        {"--data-dir", dir, "--server", "localhost", "--user", "alice", "--password-stdin"},
        {"--data-dir", dir, "--password-env", "ZORVANE_STORE_TEST_PASSWORD"},
        {"--data-dir", dir, "--user", "alice"},
        {"--data-dir", dir, "--user", "alice", "--password-env", "ZORVANE_STORE_TEST_PASSWORD",
         "--password-stdin"},
        {"--data-dir", dir, "--user", "alice", "--password-env", "ZORVANE_UNSET_VARIABLE_X"},
        {"--data-dir", dir, "--user", "alice", "--password", "pa55"},
        {"--data-dir", dir, "--user"},
        {"--data-dir", dir, "--data-dir", dir, "--user", "alice", "--password-stdin"},
        {"stray", "--data-dir", dir, "--user", "alice", "--password-stdin"},
    };
    for (const auto& args : wrong) {
        EXPECT_EQ(run(args), kExitUsage) << args.size();
        EXPECT_EQ(lines_of_err(), 1);
        EXPECT_EQ(m_out.str(), "");
    }
    std::ostringstream out, err;
    EXPECT_EQ(run_zorvane({"store"}, out, err), kExitUsage);
    EXPECT_EQ(run_zorvane({"store", "list"}, out, err), kExitUsage);
}

// An empty standard input is said as such, as in every program, rather than
// tried as an empty password.
TEST_F(StoreCommand, EmptyStandardInputIsNoPassword) {
    EXPECT_EQ(run({"--data-dir", m_dir.string(), "--user", "alice", "--password-stdin"}, ""),
              kExitUsage);
    EXPECT_NE(m_err.str().find("no password on standard input"), std::string::npos) << m_err.str();
    EXPECT_EQ(lines_of_err(), 1);
    EXPECT_EQ(m_out.str(), "");
}

TEST_F(StoreCommand, HelpOnEveryLevel) {
    std::ostringstream out, err;
    EXPECT_EQ(run_zorvane({"--help"}, out, err), kExitOk);
    EXPECT_NE(out.str().find("store"), std::string::npos);
    out.str("");
    EXPECT_EQ(run_zorvane({"store", "--help"}, out, err), kExitOk);
    EXPECT_NE(out.str().find("show"), std::string::npos);
    EXPECT_EQ(run({"--help"}), kExitOk);
    EXPECT_NE(m_out.str().find("--password-stdin"), std::string::npos);
    EXPECT_NE(m_out.str().find("never taken from the command line"), std::string::npos);
}

}  // namespace
}  // namespace Zorvane_Cli
