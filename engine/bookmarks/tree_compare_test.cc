#include "bookmarks/tree_compare.h"

#include <gtest/gtest.h>

namespace Core_ZorvaneMerge {
namespace {

zorvane_node_t bookmark(const std::string& guid, const std::string& url) {
    zorvane_node_t b(NODE_BOOKMARK, guid);
    b.title = u"t";
    b.url = url;
    return b;
}

TEST(NodeEqual, IgnoresTimesIndexAndChildren) {
    zorvane_node_t a = bookmark("a", "http://h/");
    zorvane_node_t b = a;
    b.created = 5;
    b.modified = 6;
    b.index = 7;
    b.children.push_back(bookmark("c", "http://x/"));
    EXPECT_TRUE(node_equal(a, b));
}

TEST(NodeEqual, AddressesByComparisonKeyFeedsByBytes) {
    zorvane_node_t a = bookmark("a", "http://Host.Example/p");
    zorvane_node_t b = bookmark("a", "http://host.example/p");
    EXPECT_TRUE(node_equal(a, b));
    b.url = "http://host.example/P";
    EXPECT_FALSE(node_equal(a, b));

    zorvane_node_t f = bookmark("f", "http://h/");
    f.type = NODE_FEED;
    f.feed_url = "http://Feeds.example/rss";
    zorvane_node_t g = f;
    g.feed_url = "http://feeds.example/rss";
    EXPECT_FALSE(node_equal(f, g));
}

TEST(NodeEqual, EveryOwnFieldCounts) {
    zorvane_node_t a = bookmark("a", "http://h/");
    auto differs = [&](auto change) {
        zorvane_node_t b = a;
        change(b);
        return !node_equal(a, b);
    };
    EXPECT_TRUE(differs([](zorvane_node_t& b) { b.guid = "A"; }));
    EXPECT_TRUE(differs([](zorvane_node_t& b) { b.type = NODE_QUERY; }));
    EXPECT_TRUE(differs([](zorvane_node_t& b) { b.title = u"T"; }));
    EXPECT_TRUE(differs([](zorvane_node_t& b) { b.description = u"d"; }));
    EXPECT_TRUE(differs([](zorvane_node_t& b) { b.keyword = u"k"; }));
    EXPECT_TRUE(differs([](zorvane_node_t& b) { b.tag = u"t"; }));
}

TEST(NodeEqual, KernelNodeAsFirstArgumentComparesOnlyIdentifiers) {
    zorvane_node_t menu(NODE_FOLDER, "BOOKMARK_MENU");
    menu.title = u"Menu";
    zorvane_node_t other = menu;
    other.title = u"Bookmarks Menu";
    EXPECT_TRUE(node_equal(menu, other));
    zorvane_node_t b = bookmark("BOOKMARK_MENU", "http://h/");
    EXPECT_TRUE(node_equal(menu, b));
    EXPECT_FALSE(node_equal(b, menu));
}

TEST(TreesEqual, OrderAndIndexMatter) {
    zorvane_node_t x(NODE_FOLDER, "ROOT");
    x.children = {bookmark("a", "http://a/"), bookmark("b", "http://b/")};
    x.children[1].index = 1;
    zorvane_node_t y = x;
    EXPECT_TRUE(trees_equal(x, y));
    std::swap(y.children[0], y.children[1]);
    EXPECT_FALSE(trees_equal(x, y));
    zorvane_node_t z = x;
    z.children[1].index = 5;
    EXPECT_FALSE(trees_equal(x, z));
    zorvane_node_t w = x;
    w.children.pop_back();
    EXPECT_FALSE(trees_equal(x, w));
    zorvane_node_t v = x;
    v.children[1].children.push_back(bookmark("c", "http://c/"));
    EXPECT_FALSE(trees_equal(x, v));
}

}  // namespace
}  // namespace Core_ZorvaneMerge
