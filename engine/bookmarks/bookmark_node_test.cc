#include "bookmarks/bookmark_node.h"

#include <gtest/gtest.h>

namespace Core_ZorvaneMerge {
namespace {

zorvane_node_t folder(const std::string& guid, std::vector<zorvane_node_t> children = {}) {
    zorvane_node_t f(NODE_FOLDER, guid);
    f.children = std::move(children);
    return f;
}

zorvane_node_t bookmark(const std::string& guid) { return zorvane_node_t(NODE_BOOKMARK, guid); }

TEST(NodeKinds, NamesAndCodes) {
    EXPECT_EQ(type_name(1), "folder");
    EXPECT_EQ(type_name(2), "bookmark");
    EXPECT_EQ(type_name(3), "query");
    EXPECT_EQ(type_name(4), "feed");
    EXPECT_EQ(type_name(5), "separator");
    EXPECT_EQ(type_name(6), "note");
    EXPECT_EQ(type_name(0), "");
    EXPECT_EQ(type_name(7), "");
    EXPECT_EQ(type_name(-1), "");
    for (std::int32_t t = 1; t <= 6; ++t) EXPECT_EQ(type_from_name(type_name(t)), t);
    EXPECT_EQ(type_from_name("Folder"), 0);
    EXPECT_EQ(type_from_name(""), 0);
    EXPECT_EQ(type_from_name("folder "), 0);
}

TEST(NodeKinds, KernelNodesAreFoldersWithFixedIdentifiers) {
    for (const char* g :
         {"ROOT", "BOOKMARK_TOOLBAR", "BOOKMARK_MENU", "BOOKMARK_UNFILED", "BOOKMARK_NOTES"}) {
        EXPECT_TRUE(is_kernel_node(folder(g))) << g;
        EXPECT_FALSE(is_kernel_node(bookmark(g))) << g;
    }
    EXPECT_FALSE(is_kernel_node(folder("bookmark_menu")));
    EXPECT_FALSE(is_kernel_node(folder("OTHER")));
}

TEST(NodeValue, ConstructorAndDeepCopy) {
    zorvane_node_t empty(0, "");
    EXPECT_EQ(empty.type, 0);
    EXPECT_TRUE(empty.guid.empty());
    EXPECT_EQ(empty.created, 0);
    EXPECT_EQ(empty.index, 0);
    EXPECT_TRUE(empty.children.empty());

    zorvane_node_t source = folder("ROOT", {folder("f", {bookmark("b")})});
    source.children[0].children[0].title = u"before";
    zorvane_node_t copy = source;
    copy.children[0].children[0].title = u"after";
    EXPECT_EQ(source.children[0].children[0].title, u"before");
    copy = folder("x");
    EXPECT_EQ(source.children.size(), 1u);
}

TEST(FindNode, RootIsAlwaysTheTop) {
    zorvane_node_t tree = folder("TOP", {folder("ROOT"), bookmark("a")});
    EXPECT_EQ(find_node(tree, "ROOT"), &tree);
    EXPECT_EQ(find_node(tree, "TOP"), nullptr);  // the top is found only as "ROOT"
    EXPECT_EQ(find_node(tree, "a"), &tree.children[1]);
    EXPECT_EQ(find_node(tree, "missing"), nullptr);
}

TEST(FindNode, PreOrderWithDirectChildBeforeItsSubtree) {
    // "x" directly under the top and again below it.
    zorvane_node_t tree =
        folder("ROOT", {folder("x", {bookmark("x")}), folder("f", {bookmark("x")})});
    EXPECT_EQ(find_node(tree, "x"), &tree.children[0]);
    // Pre-order: the subtree of an earlier sibling comes before a later sibling.
    zorvane_node_t deep = folder("ROOT", {folder("f", {bookmark("y")}), bookmark("y")});
    EXPECT_EQ(find_node(deep, "y"), &deep.children[0].children[0]);
    const zorvane_node_t& cdeep = deep;
    EXPECT_EQ(find_node(cdeep, "f"), &deep.children[0]);
}

TEST(FindChild, FirstMatchAndPosition) {
    zorvane_node_t tree = folder("ROOT", {bookmark("a"), bookmark("b"), bookmark("a")});
    std::size_t position = 99;
    EXPECT_EQ(find_child(&tree, "a", &position), &tree.children[0]);
    EXPECT_EQ(position, 0u);
    EXPECT_EQ(find_child(&tree, "b", &position), &tree.children[1]);
    EXPECT_EQ(position, 1u);
    position = 77;
    EXPECT_EQ(find_child(&tree, "c", &position), nullptr);
    EXPECT_EQ(position, 77u);
    EXPECT_EQ(find_child(static_cast<zorvane_node_t*>(nullptr), "a", &position), nullptr);
    EXPECT_EQ(find_child(tree, "b"), &tree.children[1]);
    EXPECT_EQ(find_child(tree, "B"), nullptr);  // case-sensitive
}

}  // namespace
}  // namespace Core_ZorvaneMerge
