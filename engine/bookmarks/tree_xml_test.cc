#include "bookmarks/tree_xml.h"

#include <gtest/gtest.h>

#include "bookmarks/tree_compare.h"
#include "bookmarks/tree_generator.h"

namespace Core_ZorvaneMerge {
namespace {

std::string doc(const std::string& node) {
    return "<?xml version=\"1.0\" encoding=\"UTF-8\"?><nodeset>" + node + "</nodeset>";
}

std::string element(const std::string& guid, const std::string& type, const std::string& rest) {
    return "<node><guid>" + guid + "</guid><type>" + type + "</type>" + rest + "</node>";
}

std::string root_with(const std::string& children) {
    return doc(element("ROOT", "folder", "<name>r</name><children>" + children + "</children>"));
}

zorvane_node_t read(const std::string& document) {
    zorvane_node_t tree(NODE_FOLDER, "stale");
    read_tree(document, tree);
    return tree;
}

TEST(WriteTree, ExactDocument) {
    zorvane_node_t root(NODE_FOLDER, "ROOT");
    root.title = u"Bookmarks";
    zorvane_node_t b(NODE_BOOKMARK, "b1");
    b.title = u"A & B <c>";
    b.url = "http://B%C3%BCcher.example/a%20b";
    b.created = -5;
    b.modified = 1234567890123;
    zorvane_node_t note(NODE_NOTE, "n1");
    note.title = u"Note";
    note.description = u"one\ntwo\r\nthree";
    root.children = {b, note};
    std::string out = "garbage";
    write_tree(root, out);
    const std::string expected =
        "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>\n"
        "<nodeset>\n"
        "  <node>\n"
        "    <guid>ROOT</guid>\n"
        "    <type>folder</type>\n"
        "    <name>Bookmarks</name>\n"
        "    <description/>\n"
        "    <keyword/>\n"
        "    <tag/>\n"
        "    <url/>\n"
        "    <feedurl/>\n"
        "    <created>0</created>\n"
        "    <modified>0</modified>\n"
        "    <children>\n"
        "      <node>\n"
        "        <guid>b1</guid>\n"
        "        <type>bookmark</type>\n"
        "        <name>A &amp; B &lt;c&gt;</name>\n"
        "        <description/>\n"
        "        <keyword/>\n"
        "        <tag/>\n"
        "        <url>http://B\xC3\xBC" "cher.example/a b</url>\n"
        "        <feedurl/>\n"
        "        <created>-5</created>\n"
        "        <modified>1234567890123</modified>\n"
        "      </node>\n"
        "      <node>\n"
        "        <guid>n1</guid>\n"
        "        <type>note</type>\n"
        "        <name>Note</name>\n"
        "        <content>one&#13;\ntwo&#13;\nthree</content>\n"
        "      </node>\n"
        "    </children>\n"
        "  </node>\n"
        "</nodeset>\n";
    EXPECT_EQ(out, expected);
}

TEST(WriteTree, FolderWithoutChildrenHasNoChildrenElement) {
    zorvane_node_t f(NODE_FOLDER, "f");
    f.title = u"F";
    std::string out;
    write_tree(f, out);
    EXPECT_EQ(out.find("children"), std::string::npos);
    zorvane_node_t empty_children = read(doc(element("f", "folder", "<name>F</name><children/>")));
    EXPECT_TRUE(trees_equal(empty_children, read(out)));
}

TEST(ReadTree, RoundTripOfRandomTrees) {
    const std::uint64_t seed = 0x7ee0001;
    tree_generator gen(seed);
    for (int round = 0; round < 100; ++round) {
        tree_generator::options_t options;
        options.bookmarks = gen.below(200);
        zorvane_node_t tree = gen.make_tree(options);
        std::string document;
        write_tree(tree, document);
        zorvane_node_t back;
        read_tree(document, back);
        // The root's fields other than the title are not read (a fixed folder).
        back.created = tree.created;
        back.modified = tree.modified;
        ASSERT_TRUE(tree_generator::identical(tree, back)) << "seed " << seed << " round " << round;
        std::string again;
        write_tree(back, again);
        ASSERT_EQ(document, again);
    }
}

TEST(ReadTree, RenumbersIndexAndNormalisesNotes) {
    zorvane_node_t root(NODE_FOLDER, "ROOT");
    zorvane_node_t note(NODE_NOTE, "n");
    note.description = u"line\nsecond\r\n\r\n  ";
    note.index = 42;
    root.children.push_back(note);
    std::string document;
    write_tree(root, document);
    zorvane_node_t back = read(document);
    ASSERT_EQ(back.children.size(), 1u);
    EXPECT_EQ(back.children[0].index, 0);
    EXPECT_EQ(back.children[0].description, u"line\r\nsecond");
}

TEST(ReadTree, NoteContentTrimmedAndCrLf) {
    zorvane_node_t t = read(root_with(element("n", "note", "<name>x</name><content>a\nb&#13;\n&#13;\n  </content>")));
    ASSERT_EQ(t.children.size(), 1u);
    EXPECT_EQ(t.children[0].description, u"a\r\nb");
    zorvane_node_t blank = read(root_with(element("n", "note", "<content> \n\t</content>")));
    EXPECT_EQ(blank.children.at(0).description, u"");
}

TEST(ReadTree, SeparatorsNeedNoName) {
    zorvane_node_t t = read(root_with(element("s", "separator", "") + element("s2", "separator", "<name/>")));
    ASSERT_EQ(t.children.size(), 2u);
    EXPECT_EQ(t.children[1].index, 1);
}

TEST(ReadTree, KernelNodeReadsOnlyNameAndChildren) {
    zorvane_node_t t = read(doc(element("ROOT", "folder",
                                        "<name>R</name><description>d</description><url>http://x/</url>"
                                        "<created>5</created>")));
    EXPECT_EQ(t.guid, "ROOT");
    EXPECT_EQ(t.title, u"R");
    EXPECT_EQ(t.description, u"");
    EXPECT_EQ(t.url, "");
    EXPECT_EQ(t.created, 0);
}

TEST(ReadTree, AnyElementNameInsideChildren) {
    zorvane_node_t t = read(root_with("<item><guid>a</guid><type>bookmark</type><name>A</name>"
                                      "<url>http://a/</url></item>"));
    ASSERT_EQ(t.children.size(), 1u);
    EXPECT_EQ(t.children[0].guid, "a");
}

TEST(ReadTree, TimesFollowTheIntegerRule) {
    zorvane_node_t t = read(root_with(
        element("a", "bookmark", "<name>A</name><url>http://a/</url><created>123abc</created><modified/>")));
    EXPECT_EQ(t.children.at(0).created, 123);
    EXPECT_EQ(t.children.at(0).modified, 0);
}

TEST(ReadTree, OnlyTheFirstNodeAndAnyRootName) {
    zorvane_node_t t = read("<other>" + element("ROOT", "folder", "") + element("X", "folder", "") + "</other>");
    EXPECT_EQ(t.guid, "ROOT");
    EXPECT_TRUE(t.children.empty());
}

TEST(ReadTree, RejectsWholeDocument) {
    const std::string bookmark_ok = element("a", "bookmark", "<name>A</name><url>http://a/</url>");
    for (const std::string& bad : {
             std::string("not xml"),
             std::string(""),
             doc(""),
             root_with(bookmark_ok + element("b", "bookmark", "<name></name><url>http://b/</url>")),
             root_with(element("", "bookmark", "<name>B</name><url>http://b/</url>")),
             root_with("<node><type>bookmark</type><name>B</name><url>http://b/</url></node>"),
             root_with(element("b", "Bookmark", "<name>B</name><url>http://b/</url>")),
             root_with(element("b", "bookmark", "<name>B</name>")),
             root_with(element("b", "query", "<name>B</name><url/>")),
             root_with(element("f", "feed", "<name>F</name><url>http://f/</url>")),
             root_with(element("f", "folder", "")),
             root_with(element("f", "folder", "<name>F</name><children>" +
                                                  element("x", "bookmark", "<name>X</name>") + "</children>")),
         }) {
        zorvane_node_t t = read(bad);
        EXPECT_EQ(t.type, 0) << bad;
        EXPECT_TRUE(t.guid.empty());
        EXPECT_TRUE(t.children.empty());
    }
    EXPECT_EQ(read(root_with(bookmark_ok)).children.size(), 1u);
}

}  // namespace
}  // namespace Core_ZorvaneMerge
