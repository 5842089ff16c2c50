#include "bookmarks/change_list.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <numeric>

#include "bookmarks/literal_merge_testing.h"
#include "bookmarks/tree_compare.h"
#include "bookmarks/tree_generator_testing.h"

namespace Core_ZorvaneMerge {
namespace {

zorvane_node_t bookmark(const std::string& guid) {
    zorvane_node_t b(NODE_BOOKMARK, guid);
    b.title = std::u16string(guid.begin(), guid.end());
    b.url = "http://example.com/" + guid;
    return b;
}

zorvane_node_t folder(const std::string& guid, std::vector<zorvane_node_t> children = {}) {
    zorvane_node_t f(NODE_FOLDER, guid);
    f.title = u"folder";
    f.children = std::move(children);
    return f;
}

std::string order_of(const zorvane_node_t& f) {
    std::string out;
    for (const auto& c : f.children) out += c.guid;
    return out;
}

zorvane_node_t flat(const std::string& letters) {
    zorvane_node_t root = folder("ROOT");
    for (char c : letters) root.children.push_back(bookmark(std::string(1, c)));
    return root;
}

TEST(DiffTrees, TreeAgainstItselfIsEmpty) {
    tree_generator gen(7);
    zorvane_node_t tree = gen.make_tree({});
    EXPECT_TRUE(diff_trees(tree, tree).empty());
    EXPECT_TRUE(moves_between(tree, tree).empty());
}

TEST(DiffTrees, AddedBookmarkListsItsPathThenThePut) {
    zorvane_node_t old_tree =
        folder("ROOT", {folder("BOOKMARK_MENU", {folder("F", {bookmark("a")})})});
    zorvane_node_t new_tree = old_tree;
    new_tree.children[0].children[0].children.push_back(bookmark("new"));

    change_list list = diff_trees(new_tree, old_tree);
    ASSERT_EQ(list.size(), 4u);
    EXPECT_EQ(list[0].op, change_path);
    EXPECT_EQ(list[0].node.guid, "ROOT");
    EXPECT_EQ(list[0].parent_guid, "");
    EXPECT_EQ(list[1].op, change_path);
    EXPECT_EQ(list[1].node.guid, "BOOKMARK_MENU");
    EXPECT_EQ(list[1].parent_guid, "ROOT");
    EXPECT_TRUE(list[1].node.children.empty());
    EXPECT_EQ(list[2].op, change_path);
    EXPECT_EQ(list[2].node.guid, "F");
    EXPECT_EQ(list[2].parent_guid, "BOOKMARK_MENU");
    EXPECT_EQ(list[3].op, change_put);
    EXPECT_EQ(list[3].node.guid, "new");
    EXPECT_EQ(list[3].parent_guid, "F");

    zorvane_node_t applied = old_tree;
    apply_changes(applied, list, FILTER_PUT);
    EXPECT_TRUE(trees_equal(applied, new_tree));
    EXPECT_EQ(order_of(applied.children[0].children[0]), "anew");
}

TEST(DiffTrees, NewFolderIsPutWithItsContentThenEachDescendant) {
    zorvane_node_t old_tree = folder("ROOT");
    zorvane_node_t new_tree = folder("ROOT", {folder("F", {bookmark("a"), bookmark("b")})});
    change_list list = diff_trees(new_tree, old_tree);
    std::vector<std::string> puts;
    for (const auto& r : list) {
        if (r.op == change_put) puts.push_back(r.node.guid);
    }
    EXPECT_EQ(puts, (std::vector<std::string>{"F", "a", "b"}));
    EXPECT_EQ(list[1].node.children.size(), 2u);  // the folder's put carries its subtree
    zorvane_node_t applied = old_tree;
    apply_changes(applied, list, FILTER_PUT);
    EXPECT_TRUE(trees_equal(applied, new_tree));
}

TEST(DiffTrees, DeletionsAndChangedTop) {
    zorvane_node_t old_tree = flat("abc");
    zorvane_node_t new_tree = flat("ac");
    new_tree.title = u"renamed";  // a kernel top compares by identifier only
    change_list list = diff_trees(new_tree, old_tree);
    ASSERT_EQ(list.size(), 1u);
    EXPECT_EQ(list[0].op, change_delete);
    EXPECT_EQ(list[0].node.guid, "b");
    EXPECT_EQ(list[0].parent_guid, "ROOT");
    zorvane_node_t applied = old_tree;
    apply_changes(applied, list, FILTER_DELETE);
    EXPECT_EQ(order_of(applied), "ac");

    zorvane_node_t plain_old = folder("TOP"), plain_new = folder("TOP");
    plain_new.title = u"renamed";
    change_list top = diff_trees(plain_new, plain_old);
    ASSERT_EQ(top.size(), 1u);
    EXPECT_EQ(top[0].op, change_put);
    EXPECT_EQ(top[0].parent_guid, "");
}

TEST(ApplyChanges, PutUpdatesFieldsButKeepsIdentityIndexAndChildren) {
    zorvane_node_t tree = folder("ROOT", {folder("F", {bookmark("a")})});
    tree.children[0].index = 3;
    zorvane_node_t update = bookmark("F");
    update.index = 9;
    update.title = u"new title";
    update.created = 11;
    change_list list{{change_put, update, "ROOT"}};
    apply_changes(tree, list, FILTER_PUT);
    const zorvane_node_t& f = tree.children[0];
    EXPECT_EQ(f.title, u"new title");
    EXPECT_EQ(f.type, NODE_BOOKMARK);
    EXPECT_EQ(f.created, 11);
    EXPECT_EQ(f.index, 3);
    EXPECT_EQ(f.children.size(), 1u);
}

TEST(ApplyChanges, FiltersAndMissingParents) {
    zorvane_node_t tree = flat("ab");
    change_list list{{change_put, bookmark("x"), "nowhere"},
                     {change_delete, bookmark("a"), "ROOT"},
                     {change_put, bookmark("y"), "ROOT"}};
    apply_changes(tree, list, FILTER_MOVE);
    EXPECT_EQ(order_of(tree), "ab");
    apply_changes(tree, list, FILTER_PUT);
    EXPECT_EQ(order_of(tree), "aby");
    apply_changes(tree, list, FILTER_DELETE);
    EXPECT_EQ(order_of(tree), "by");
}

TEST(ApplyChanges, PathRecordsAreIdempotent) {
    zorvane_node_t tree = flat("a");
    zorvane_node_t f = folder("F", {bookmark("inner")});
    change_list list{{change_path, f, "ROOT"}, {change_path, f, "ROOT"}};
    apply_changes(tree, list, FILTER_PUT);
    ASSERT_EQ(order_of(tree), "aF");
    EXPECT_TRUE(tree.children[1].children.empty());  // a path record never brings children
}

TEST(ApplyChanges, MoveGoesToTheTargetPosition) {
    // A node at position 1 moved to 0 really moves (the old rule skipped it).
    zorvane_node_t tree = flat("abc");
    zorvane_node_t b = bookmark("b");
    b.index = 0;
    apply_changes(tree, {{change_move, b, "ROOT"}}, FILTER_MOVE);
    EXPECT_EQ(order_of(tree), "bac");
    zorvane_node_t c = bookmark("c");
    c.index = 1;
    apply_changes(tree, {{change_move, c, "ROOT"}}, FILTER_MOVE);
    EXPECT_EQ(order_of(tree), "bca");
    zorvane_node_t far = bookmark("b");
    far.index = 50;
    apply_changes(tree, {{change_move, far, "ROOT"}}, FILTER_MOVE);
    EXPECT_EQ(order_of(tree), "cab");
}

TEST(MovesBetween, ReversalOfFourAndFive) {
    for (std::string letters : {"ABCD", "ABCDE"}) {
        zorvane_node_t old_tree = flat(letters);
        std::string reversed(letters.rbegin(), letters.rend());
        zorvane_node_t new_tree = flat(reversed);
        zorvane_node_t applied = old_tree;
        apply_changes(applied, moves_between(new_tree, old_tree), FILTER_MOVE);
        EXPECT_EQ(order_of(applied), reversed);
    }
}

// Every order of five and of six children comes out right.
TEST(MovesBetween, EveryPermutationOfSmallFolders) {
    for (std::string letters : {"ABCDE", "ABCDEF"}) {
        std::string target = letters;
        int count = 0;
        do {
            zorvane_node_t old_tree = flat(letters);
            zorvane_node_t new_tree = flat(target);
            zorvane_node_t applied = old_tree;
            apply_changes(applied, moves_between(new_tree, old_tree), FILTER_MOVE);
            EXPECT_EQ(order_of(applied), target);
            ++count;
        } while (std::next_permutation(target.begin(), target.end()));
        EXPECT_EQ(count, letters.size() == 5 ? 120 : 720);
    }
}

TEST(MovesBetween, SharedChildrenFirstThenTheOldOnes) {
    zorvane_node_t old_tree = flat("XABYC");
    zorvane_node_t new_tree = flat("CNBA");
    zorvane_node_t applied = old_tree;
    apply_changes(applied, moves_between(new_tree, old_tree), FILTER_MOVE);
    EXPECT_EQ(order_of(applied), "CBAXY");
}

// Random trees, random permutations of random folders plus random other
// edits: after the moves, every folder lists the children it shares with the
// new tree in the new tree's order, then its own, in their old order.
TEST(MovesBetween, PropertyOverRandomPermutationsAndEdits) {
    const std::uint64_t seed = 0x5eed0001;
    tree_generator gen(seed);
    for (int round = 0; round < 300; ++round) {
        tree_generator::options_t options;
        options.bookmarks = 5 + gen.below(60);
        options.folder_every = 4;
        zorvane_node_t old_tree = gen.make_tree(options);
        zorvane_node_t new_tree = old_tree;
        gen.edit(new_tree, 1 + gen.below(8));
        std::vector<zorvane_node_t*> folders, nodes;
        tree_generator::collect(new_tree, folders, nodes);
        for (int i = 0; i < 4; ++i) gen.permute_children(*folders[gen.below(folders.size())]);

        zorvane_node_t applied = old_tree;
        apply_changes(applied, moves_between(new_tree, old_tree), FILTER_MOVE);

        // Check folder by folder, matched from the top.
        std::vector<std::pair<const zorvane_node_t*, const zorvane_node_t*>> pending{
            {&new_tree, &applied}};
        while (!pending.empty()) {
            auto [n, a] = pending.back();
            pending.pop_back();
            std::vector<std::string> expected, old_only;
            for (const auto& c : n->children) {
                if (find_child(a, c.guid)) expected.push_back(c.guid);
            }
            for (const auto& c : a->children) {
                if (!find_child(n, c.guid)) old_only.push_back(c.guid);
            }
            expected.insert(expected.end(), old_only.begin(), old_only.end());
            std::vector<std::string> actual;
            for (const auto& c : a->children) actual.push_back(c.guid);
            ASSERT_EQ(actual, expected) << "seed " << seed << " round " << round << " folder "
                                        << n->guid << "\nnew " << tree_generator::outline(new_tree)
                                        << "\nold " << tree_generator::outline(old_tree);
            for (const auto& c : n->children) {
                if (const zorvane_node_t* m = find_child(a, c.guid)) pending.emplace_back(&c, m);
            }
        }
    }
}

// The fast implementations against the literal ones, on thousands of random
// trees with repeated identifiers.
TEST(ChangeListDifferential, MatchesLiteralImplementation) {
    const std::uint64_t seed = 0xd1ff0002;
    tree_generator gen(seed);
    for (int round = 0; round < 3000; ++round) {
        tree_generator::options_t options;
        options.bookmarks = gen.below(40);
        options.folder_every = 3;
        options.guid_alphabet = round % 3 == 0 ? 0 : 4 + gen.below(30);
        zorvane_node_t a = gen.make_tree(options);
        zorvane_node_t b = round % 5 == 0 ? gen.make_tree(options) : a;
        gen.edit(b, gen.below(10));
        const std::string where =
            "seed " + std::to_string(seed) + " round " + std::to_string(round);

        change_list fast = diff_trees(b, a);
        change_list slow = literal::diff_trees(b, a);
        ASSERT_EQ(fast.size(), slow.size()) << where;
        for (std::size_t i = 0; i < fast.size(); ++i) {
            ASSERT_EQ(fast[i].op, slow[i].op) << where;
            ASSERT_EQ(fast[i].parent_guid, slow[i].parent_guid) << where;
            ASSERT_TRUE(tree_generator::identical(fast[i].node, slow[i].node)) << where;
        }
        for (change_filter_enum filter : {FILTER_DELETE, FILTER_PUT}) {
            zorvane_node_t x = a, y = a;
            apply_changes(x, fast, filter);
            literal::apply_changes(y, slow, filter);
            ASSERT_TRUE(tree_generator::identical(x, y)) << where << " filter " << filter;
        }
        change_list fast_moves = moves_between(b, a);
        change_list slow_moves = literal::moves_between(b, a);
        ASSERT_EQ(fast_moves.size(), slow_moves.size()) << where;
        zorvane_node_t x = a, y = a;
        apply_changes(x, fast_moves, FILTER_MOVE);
        literal::apply_changes(y, slow_moves, FILTER_MOVE);
        ASSERT_TRUE(tree_generator::identical(x, y)) << where << "\n"
                                                     << tree_generator::outline(x) << "\n"
                                                     << tree_generator::outline(y);
    }
}

}  // namespace
}  // namespace Core_ZorvaneMerge
