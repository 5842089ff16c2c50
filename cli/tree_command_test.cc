#include "tree_command.h"

#include <gtest/gtest.h>

#include <sstream>

#include "arguments.h"
#include "bookmarks/tree_xml.h"
#include "command.h"
#include "common/whole_file.h"
#include "platform/strings.h"

namespace Zorvane_Cli {
namespace {

using Core_ZorvaneMerge::zorvane_node_t;

class TreeCommand : public ::testing::Test {
protected:
    void SetUp() override {
        const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
        m_dir = ::testing::TempDir() + "zorvane_cli_" + info->name() + "_";
    }
    void TearDown() override {
        for (const std::string& p : m_files) Core_Common::remove_file(wide(p));
    }

    static std::u16string wide(const std::string& p) { return Core_Platform::ansi_to_wide(p); }

    std::string file(const std::string& name, const std::string& content) {
        std::string path = m_dir + name;
        m_files.push_back(path);
        EXPECT_TRUE(Core_Common::write_whole_file(wide(path), content));
        return path;
    }
    std::string target(const std::string& name) {
        std::string path = m_dir + name;
        m_files.push_back(path);
        Core_Common::remove_file(wide(path));
        return path;
    }
    std::string content(const std::string& path) {
        std::string out;
        Core_Common::read_whole_file(wide(path), out);
        return out;
    }
    static std::string tree(const std::string& letters) {
        std::string children;
        for (char c : letters) {
            children += std::string("<node><guid>") + c + "</guid><type>bookmark</type><name>" + c +
                        "</name><url>http://example.com/" + c + "</url></node>";
        }
        return "<nodeset><node><guid>ROOT</guid><type>folder</type><name>R</name><children>" +
               children + "</children></node></nodeset>";
    }
    int run(const std::vector<std::string>& args) {
        m_out.str("");
        m_err.str("");
        return run_zorvane(args, m_out, m_err);
    }
    std::string order(const std::string& path) {
        zorvane_node_t t;
        Core_ZorvaneMerge::read_tree(content(path), t);
        std::string out;
        for (const auto& c : t.children) out += c.guid;
        return out;
    }

    std::string m_dir;
    std::vector<std::string> m_files;
    std::ostringstream m_out, m_err;
};

TEST_F(TreeCommand, NormalizeWritesTheExactForm) {
    std::string in = file("in.xml", tree("AB"));
    std::string out = target("out.xml");
    ASSERT_EQ(run({"tree", "normalize", in, out}), kExitOk) << m_err.str();
    zorvane_node_t t;
    Core_ZorvaneMerge::read_tree(tree("AB"), t);
    std::string expected;
    Core_ZorvaneMerge::write_tree(t, expected);
    EXPECT_EQ(content(out), expected);
}

TEST_F(TreeCommand, RejectedTreeWritesNothing) {
    std::string bad =
        file("bad.xml", "<nodeset><node><guid>x</guid><type>nonsense</type></node></nodeset>");
    std::string out = target("out.xml");
    EXPECT_EQ(run({"tree", "normalize", bad, out}), kExitFailure);
    EXPECT_FALSE(Core_Common::is_regular_file(wide(out)));
    std::string message = m_err.str();
    EXPECT_NE(message.find(bad), std::string::npos);
    EXPECT_EQ(message.find('\n'), message.size() - 1);  // one line
    EXPECT_EQ(run({"tree", "normalize", m_dir + "missing.xml", out}), kExitFailure);
    EXPECT_NE(m_err.str().find("cannot read"), std::string::npos);
}

TEST_F(TreeCommand, EqualPrintsTrueOrFalse) {
    std::string a = file("a.xml", tree("AB")), b = file("b.xml", tree("BA"));
    ASSERT_EQ(run({"tree", "equal", a, a}), kExitOk);
    EXPECT_EQ(m_out.str(), "true\n");
    ASSERT_EQ(run({"tree", "equal", a, b}), kExitOk);
    EXPECT_EQ(m_out.str(), "false\n");
}

TEST_F(TreeCommand, DiffPrintsJsonLines) {
    std::string n = file("new.xml", tree("BC")), o = file("old.xml", tree("AB"));
    ASSERT_EQ(run({"tree", "diff", n, o}), kExitOk);
    EXPECT_EQ(m_out.str(),
              "{\"op\":\"delete\",\"guid\":\"A\",\"parent\":\"ROOT\",\"index\":0}\n"
              "{\"op\":\"path\",\"guid\":\"ROOT\",\"parent\":\"\",\"index\":0}\n"
              "{\"op\":\"put\",\"guid\":\"C\",\"parent\":\"ROOT\",\"index\":1}\n"
              "{\"op\":\"move\",\"guid\":\"B\",\"parent\":\"ROOT\",\"index\":0}\n");
    ASSERT_EQ(run({"tree", "diff", n, n}), kExitOk);
    EXPECT_EQ(m_out.str(), "");
}

TEST_F(TreeCommand, MergeAndSkipDeletes) {
    std::string base = file("base.xml", tree("ABCDE"));
    std::string remote = file("remote.xml", tree("ABCDEY"));
    std::string local = file("local.xml", tree("EDCB"));
    std::string out = target("out.xml");
    ASSERT_EQ(run({"tree", "merge", remote, base, local, out}), kExitOk) << m_err.str();
    EXPECT_EQ(order(out), "EDCBY");
    ASSERT_EQ(run({"tree", "merge", remote, base, local, out, "--skip-deletes"}), kExitOk);
    EXPECT_EQ(order(out), "AEDCBY");
}

TEST_F(TreeCommand, AdoptTakesWebTreesAsTheyAre) {
    std::string incoming = file("in.xml", tree("AB")), local = file("local.xml", tree("C"));
    std::string out = target("out.xml");
    ASSERT_EQ(run({"tree", "adopt", "WEB", incoming, local, out}), kExitOk);
    EXPECT_EQ(order(out), "AB");
}

TEST_F(TreeCommand, UrlForms) {
    ASSERT_EQ(run({"tree", "url", "key", "HTTP://Example.COM#top"}), kExitOk);
    EXPECT_EQ(m_out.str(), "http://example.com/\n");
    ASSERT_EQ(run({"tree", "url", "stored",
                   "http://B\xC3\xBC"
                   "cher.example/a b"}),
              kExitOk);
    EXPECT_EQ(m_out.str(), "http://B%C3%BCcher.example/a%20b\n");
    ASSERT_EQ(run({"tree", "url", "display", "http://B%C3%BCcher.example/a%20b"}), kExitOk);
    EXPECT_EQ(m_out.str(),
              "http://B\xC3\xBC"
              "cher.example/a b\n");
}

TEST_F(TreeCommand, ShowPrintsAnOutlineOfEitherForm) {
    ASSERT_EQ(run({"tree", "show", file("t.xml", tree("ab"))}), kExitOk);
    EXPECT_EQ(m_out.str(), "a  <http://example.com/a>\nb  <http://example.com/b>\n");

    const std::string html = file("b.html",
                                  "<DL><p><DT><H3 PERSONAL_TOOLBAR_FOLDER=\"true\">Bar</H3>"
                                  "<DL><p><DT><A HREF=\"http://b%C3%BC.example/\">Caf\xC3\xA9</A>"
                                  "<HR></DL><p></DL><p>");
    ASSERT_EQ(run({"tree", "show", html, "--html"}), kExitOk);
    EXPECT_EQ(m_out.str(),
              "Bookmarks Menu/\nBar/\n  Caf\xC3\xA9  <http://b\xC3\xBC.example/>\n  ----\n"
              "Other Bookmarks/\n");
    // HTML read as a tree document, and a missing file, fail with a reason.
    EXPECT_EQ(run({"tree", "show", html}), kExitFailure);
    EXPECT_NE(m_err.str().find("not an acceptable"), std::string::npos);
    EXPECT_EQ(run({"tree", "show", m_dir + "missing", "--html"}), kExitFailure);
    EXPECT_NE(m_err.str().find("cannot read"), std::string::npos);
}

TEST_F(TreeCommand, ShowRefusesDeepNestingAndDeclarationsWithAReason) {
    auto nested_folders = [](std::size_t depth) {
        std::string html = "<!DOCTYPE NETSCAPE-Bookmark-file-1>\n<DL><p>\n";
        for (std::size_t i = 0; i < depth; ++i) html += "<DT><H3>f</H3>\n<DL><p>\n";
        html += "<DT><A HREF=\"http://deep.example/\">deep</A>\n";
        for (std::size_t i = 0; i < depth; ++i) html += "</DL><p>\n";
        return html + "</DL><p>\n";
    };
    // 150 KB of 30,000 nested folders: a reason, not a stack overflow.
    ASSERT_EQ(run({"tree", "show", file("deep.html", nested_folders(30000)), "--html"}),
              kExitFailure);
    EXPECT_EQ(m_err.str().substr(m_err.str().rfind(": ")),
              ": folders nested deeper than 98 levels\n");
    // The deepest file accepted: the bookmark at the tree's depth bound.
    ASSERT_EQ(run({"tree", "show", file("ok.html", nested_folders(98)), "--html"}), kExitOk);
    EXPECT_NE(m_out.str().find(std::string(2 * 98, ' ') + "deep  <http://deep.example/>"),
              std::string::npos);
    EXPECT_EQ(run({"tree", "show", file("no.html", nested_folders(99)), "--html"}), kExitFailure);
    // Declarations are refused; HTML's named character references stay.
    for (const std::string& html :
         {std::string(
              "<!DOCTYPE x [<!ENTITY e \"boom\">]><DL><p><DT><A HREF=\"http://a/\">&e;</A>"),
          std::string("<!ENTITY e \"boom\"><DL><p><DT><A HREF=\"http://a/\">&e;</A>")}) {
        EXPECT_EQ(run({"tree", "show", file("decl.html", html), "--html"}), kExitFailure);
        EXPECT_NE(m_err.str().find("an entity declaration or a document type subset"),
                  std::string::npos);
    }
    ASSERT_EQ(run({"tree", "show",
                   file("named.html",
                        "<DL><p><DT><A HREF=\"http://a/\">caf&eacute; &amp; "
                        "&#65;</A></DL>"),
                   "--html"}),
              kExitOk);
    EXPECT_NE(m_out.str().find("caf\xC3\xA9 & A  <http://a/>"), std::string::npos) << m_out.str();
    // A tree document nested too deep says so too.
    std::string deep = "<nodeset>";
    for (int i = 0; i < 120; ++i)
        deep += "<node><guid>g</guid><type>folder</type><name>n</name><children>";
    for (int i = 0; i < 120; ++i) deep += "</children></node>";
    EXPECT_EQ(run({"tree", "show", file("deep.xml", deep + "</nodeset>")}), kExitFailure);
    EXPECT_NE(m_err.str().find("(nodes nested deeper than 100 levels)"), std::string::npos);
}

TEST_F(TreeCommand, UsageErrorsExitWithTwo) {
    EXPECT_EQ(run({}), kExitUsage);
    EXPECT_EQ(run({"bogus"}), kExitUsage);
    EXPECT_EQ(run({"tree"}), kExitUsage);
    EXPECT_EQ(run({"tree", "bogus"}), kExitUsage);
    EXPECT_EQ(run({"tree", "equal", "only-one"}), kExitUsage);
    EXPECT_EQ(run({"tree", "merge", "a", "b", "c", "d", "--skip"}), kExitUsage);
    EXPECT_EQ(run({"tree", "url", "upper", "x"}), kExitUsage);
    EXPECT_EQ(m_err.str().find('\n'), m_err.str().size() - 1);
}

TEST_F(TreeCommand, HelpOnEveryLevel) {
    EXPECT_EQ(run({"--help"}), kExitOk);
    EXPECT_NE(m_out.str().find("tree"), std::string::npos);
    EXPECT_EQ(run({"tree", "--help"}), kExitOk);
    for (const char* sub : {"normalize", "equal", "diff", "merge", "adopt", "url"}) {
        EXPECT_EQ(run({"tree", sub, "--help"}), kExitOk) << sub;
        EXPECT_NE(m_out.str().find(std::string("Usage: zorvane tree ") + sub), std::string::npos);
    }
}

}  // namespace
}  // namespace Zorvane_Cli
