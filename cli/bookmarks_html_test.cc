#include "bookmarks_html.h"

#include <gtest/gtest.h>

#include <string>

#include "bookmarks/tree_xml.h"

namespace Zorvane_Cli {
namespace {

using Core_ZorvaneMerge::zorvane_node_t;

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
    EXPECT_EQ(news.type, Core_ZorvaneMerge::NODE_BOOKMARK);
    EXPECT_EQ(news.title, u"News & more");
    EXPECT_EQ(news.keyword, u"news");
    EXPECT_EQ(news.tag, u"daily,read");
    EXPECT_EQ(news.description, u"The morning paper");
    EXPECT_EQ(news.created, 1300000001LL * 1000000);
    EXPECT_EQ(child(toolbar, 1).type, Core_ZorvaneMerge::NODE_SEPARATOR);
    const zorvane_node_t& work = child(toolbar, 2);
    EXPECT_EQ(work.type, Core_ZorvaneMerge::NODE_FOLDER);
    ASSERT_EQ(work.children.size(), 1u);
    EXPECT_EQ(child(work, 0).title, u"Wiki");
    ASSERT_EQ(unfiled.children.size(), 1u);
    EXPECT_EQ(child(unfiled, 0).title, u"Read later");

    // The tree is acceptable to the engine as it stands.
    std::string document;
    Core_ZorvaneMerge::write_tree(tree, document);
    zorvane_node_t back;
    Core_ZorvaneMerge::read_tree(document, back);
    EXPECT_NE(back.type, Core_ZorvaneMerge::NODE_NONE);
}

TEST(BookmarksHtml, SameFileGivesSameTreeAndWritingReadsBack) {
    zorvane_node_t first, second;
    ASSERT_TRUE(read_bookmarks_html(kExport, first));
    ASSERT_TRUE(read_bookmarks_html(kExport, second));
    std::string a, b;
    Core_ZorvaneMerge::write_tree(first, a);
    Core_ZorvaneMerge::write_tree(second, b);
    EXPECT_EQ(a, b);

    zorvane_node_t again;
    ASSERT_TRUE(read_bookmarks_html(write_bookmarks_html(first), again));
    std::string c;
    Core_ZorvaneMerge::write_tree(again, c);
    EXPECT_EQ(a, c);

    zorvane_node_t untouched;
    untouched.guid = "keep";
    EXPECT_FALSE(read_bookmarks_html("<html><body>no list</body></html>", untouched));
    EXPECT_EQ(untouched.guid, "keep");
}

}  // namespace
}  // namespace Zorvane_Cli
