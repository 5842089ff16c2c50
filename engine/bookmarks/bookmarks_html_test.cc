#include "bookmarks/bookmarks_html.h"

#include <gtest/gtest.h>

#include <functional>
#include <set>
#include <string>

#include "bookmarks/tree_xml.h"

namespace Core_ZorvaneMerge {
namespace {

const char* kExport = R"(<!DOCTYPE NETSCAPE-Bookmark-file-1>
<META HTTP-EQUIV="Content-Type" CONTENT="text/html; charset=UTF-8">
<TITLE>Bookmarks</TITLE>
<H1>Bookmarks Menu</H1>
<DL><p>
    <DT><H3 ADD_DATE="1300000000" LAST_MODIFIED="1300000100" PERSONAL_TOOLBAR_FOLDER="true">Bookmarks Toolbar</H3>
    <DD>Things I use daily
    <DL><p>
        <DT><A HREF="http://news.example/" ADD_DATE="1300000001" SHORTCUTURL="news" TAGS="daily,read">News &amp; more</A>
        <DD>The morning paper
        <HR>
        <DT><H3>Work</H3>
        <DL><p>
            <DT><A HREF="https://work.example/wiki">Wiki</A>
        </DL><p>
    </DL><p>
    <DT><A HREF="http://menu.example/">Menu item</A>
    <DT><H3 UNFILED_BOOKMARKS_FOLDER="true">Other Bookmarks</H3>
    <DL><p>
        <DT><A HREF="http://later.example/">Read later</A>
    </DL><p>
</DL><p>
)";

const zorvane_node_t& child(const zorvane_node_t& node, std::size_t i) {
    return node.children.at(i);
}

TEST(BookmarksHtml, ReadsFoldersBookmarksSeparatorsAndKernelFolders) {
    zorvane_node_t tree;
    ASSERT_TRUE(read_bookmarks_html(kExport, tree));
    ASSERT_EQ(tree.guid, "ROOT");
    ASSERT_EQ(tree.children.size(), 3u);
    const zorvane_node_t& menu = child(tree, 0);
    const zorvane_node_t& toolbar = child(tree, 1);
    const zorvane_node_t& unfiled = child(tree, 2);
    EXPECT_EQ(menu.guid, "BOOKMARK_MENU");
    EXPECT_EQ(toolbar.guid, "BOOKMARK_TOOLBAR");
    EXPECT_EQ(unfiled.guid, "BOOKMARK_UNFILED");

    ASSERT_EQ(menu.children.size(), 1u);
    EXPECT_EQ(child(menu, 0).title, u"Menu item");
    ASSERT_EQ(toolbar.children.size(), 3u);
    const zorvane_node_t& news = child(toolbar, 0);
    EXPECT_EQ(news.type, NODE_BOOKMARK);
    EXPECT_EQ(news.title, u"News & more");
    EXPECT_EQ(news.keyword, u"news");
    EXPECT_EQ(news.tag, u"daily,read");
    EXPECT_EQ(news.description, u"The morning paper");
    EXPECT_EQ(news.created, 1300000001LL * 1000000);
    EXPECT_EQ(child(toolbar, 1).type, NODE_SEPARATOR);
    const zorvane_node_t& work = child(toolbar, 2);
    EXPECT_EQ(work.type, NODE_FOLDER);
    ASSERT_EQ(work.children.size(), 1u);
    EXPECT_EQ(child(work, 0).title, u"Wiki");
    ASSERT_EQ(unfiled.children.size(), 1u);
    EXPECT_EQ(child(unfiled, 0).title, u"Read later");

    // The tree is acceptable to the engine as it stands.
    std::string document;
    write_tree(tree, document);
    zorvane_node_t back;
    read_tree(document, back);
    EXPECT_NE(back.type, NODE_NONE);
}

// What browsers and hand-edited files really hold: any letter case, tags
// left open, markup inside titles, anchors without an address, feeds,
// attributes without values, character references.
TEST(BookmarksHtml, ReadsLooseMarkupTheWayBrowsersWriteIt) {
    const char* loose = R"(<dl><p>
  <dt><a href="http://b.example/?x=1&amp;y=2" Add_Date="1300000002" feedurl="http://b.example/feed">B <b>bold</b> &lt;tag&gt;</a>
  <dd>first line
second line
  <dt><a name="anchor-only">no address</a>
  <dt><H3 PERSONAL_TOOLBAR_FOLDER>Not marked: the attribute has no value</H3>
  <dl>
    <dt><a href="http://c.example/">   </a>
    <dt><a href="http://d.example/">caf&eacute; &#x263A;</a>
  </dl>
  <dt><h3></h3>
  <dl></dl>
</dl>)";
    zorvane_node_t tree;
    ASSERT_TRUE(read_bookmarks_html(loose, tree));
    const zorvane_node_t& menu = child(tree, 0);
    EXPECT_TRUE(child(tree, 1).children.empty()) << "no toolbar folder was marked";
    ASSERT_EQ(menu.children.size(), 3u) << "the anchor without an address is left out";

    const zorvane_node_t& b = child(menu, 0);
    EXPECT_EQ(b.type, NODE_FEED);
    EXPECT_EQ(b.title, u"B bold <tag>");
    EXPECT_EQ(b.created, 1300000002LL * 1000000);
    EXPECT_NE(b.url.find("x=1&y=2"), std::string::npos) << b.url;
    EXPECT_EQ(b.description, u"first line\nsecond line");

    const zorvane_node_t& folder = child(menu, 1);
    EXPECT_EQ(folder.type, NODE_FOLDER);
    EXPECT_EQ(folder.title, u"Not marked: the attribute has no value");
    ASSERT_EQ(folder.children.size(), 2u);
    EXPECT_EQ(child(folder, 0).title, u"http://c.example/") << "an empty title shows the address";
    EXPECT_EQ(child(folder, 1).title, u"caf\u00e9 \u263a");

    EXPECT_EQ(child(menu, 2).title, u"(untitled)");
    EXPECT_TRUE(child(menu, 2).children.empty());

    zorvane_node_t none;
    EXPECT_FALSE(read_bookmarks_html("<html><body><p>no list</p></body></html>", none));
    EXPECT_FALSE(read_bookmarks_html("", none));
}

TEST(BookmarksHtml, SameFileGivesSameTreeAndWritingReadsBack) {
    zorvane_node_t first, second;
    ASSERT_TRUE(read_bookmarks_html(kExport, first));
    ASSERT_TRUE(read_bookmarks_html(kExport, second));
    std::string a, b;
    write_tree(first, a);
    write_tree(second, b);
    EXPECT_EQ(a, b);

    zorvane_node_t again;
    ASSERT_TRUE(read_bookmarks_html(write_bookmarks_html(first), again));
    std::string c;
    write_tree(again, c);
    EXPECT_EQ(a, c);

    zorvane_node_t untouched;
    untouched.guid = "keep";
    EXPECT_FALSE(read_bookmarks_html("<html><body>no list</body></html>", untouched));
    EXPECT_EQ(untouched.guid, "keep");
}

// The identifier of the first node in `tree` whose title is `title`.
std::string guid_of(const zorvane_node_t& tree, const std::u16string& title) {
    if (tree.title == title) return tree.guid;
    for (const zorvane_node_t& c : tree.children) {
        const std::string found = guid_of(c, title);
        if (!found.empty()) return found;
    }
    return std::string();
}

TEST(BookmarksHtml, IdentifiersFollowContentNotPlace) {
    const char* desktop = R"(<DL><p>
    <DT><H3 PERSONAL_TOOLBAR_FOLDER="true">Toolbar</H3>
    <DL><p>
        <DT><A HREF="http://a.example/">A</A>
        <DT><A HREF="http://b.example/">B</A>
        <HR>
        <DT><H3>Work</H3>
        <DL><p><DT><A HREF="http://w.example/">W</A></DL><p>
    </DL><p>
</DL><p>)";
    // Another browser: B first, A renamed and moved into the menu, W in a
    // folder of the same name under the menu, a second copy of B.
    const char* laptop = R"(<DL><p>
    <DT><A HREF="http://a.example/">A (renamed)</A>
    <DT><H3 PERSONAL_TOOLBAR_FOLDER="true">Toolbar</H3>
    <DL><p>
        <DT><A HREF="http://b.example/">B</A>
        <HR>
        <DT><A HREF="http://b.example/">B again</A>
    </DL><p>
    <DT><H3>Work</H3>
    <DL><p><DT><A HREF="http://w.example/">W</A></DL><p>
</DL><p>)";
    zorvane_node_t one, two;
    ASSERT_TRUE(read_bookmarks_html(desktop, one));
    ASSERT_TRUE(read_bookmarks_html(laptop, two));
    EXPECT_EQ(guid_of(one, u"A"), guid_of(two, u"A (renamed)"));
    EXPECT_EQ(guid_of(one, u"B"), guid_of(two, u"B"));
    EXPECT_EQ(guid_of(one, u"W"), guid_of(two, u"W"));
    // The second copy of an address is a bookmark of its own.
    EXPECT_NE(guid_of(two, u"B again"), guid_of(two, u"B"));
    EXPECT_FALSE(guid_of(two, u"B again").empty());
    // Folders of one title in different parents are different folders.
    EXPECT_NE(guid_of(one, u"Work"), guid_of(two, u"Work"));

    // Every identifier in a file is distinct, separators and repeated
    // titles included.
    const char* repeats = R"(<DL><p>
    <DT><H3>Same</H3><DL><p><HR><HR></DL><p>
    <DT><H3>Same</H3><DL><p><HR></DL><p>
    <DT><A HREF="http://x.example/">x</A>
    <DT><A HREF="http://x.example/">x</A>
    <DT><A HREF="http://x.example/" FEEDURL="http://x.example/feed">x</A>
</DL><p>)";
    zorvane_node_t tree;
    ASSERT_TRUE(read_bookmarks_html(repeats, tree));
    std::set<std::string> guids;
    std::size_t nodes = 0;
    std::function<void(const zorvane_node_t&)> collect = [&](const zorvane_node_t& n) {
        ++nodes;
        guids.insert(n.guid);
        for (const zorvane_node_t& c : n.children) collect(c);
    };
    collect(tree);
    EXPECT_EQ(nodes, 4u + 2u + 3u + 3u);  // root and kernel folders, 2 folders, 3 rules, 3 items
    EXPECT_EQ(guids.size(), nodes);
}

}  // namespace
}  // namespace Core_ZorvaneMerge
