#include "bookmarks/merge.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <map>

#include "bookmarks/change_list.h"
#include "bookmarks/literal_merge_testing.h"
#include "bookmarks/moved_nodes.h"
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

zorvane_node_t flat(const std::string& letters) {
    zorvane_node_t root = folder("ROOT");
    for (char c : letters) root.children.push_back(bookmark(std::string(1, c)));
    return root;
}

std::string order_of(const zorvane_node_t& f) {
    std::string out;
    for (const auto& c : f.children) out += c.guid;
    return out;
}

zorvane_node_t merge(const zorvane_node_t& remote, const zorvane_node_t& base,
                     const zorvane_node_t& local, bool skip_deletes = false) {
    merge_input in;
    in.remote = remote;
    in.base = base;
    in.local = local;
    in.skip_deletes = skip_deletes;
    zorvane_node_t out;
    merge_trees(in, out);
    zorvane_node_t check;
    literal::merge_trees(in, check);
    EXPECT_TRUE(tree_generator::identical(out, check));
    return out;
}

TEST(MergeOrder, LocalReversalSurvives) {
    EXPECT_EQ(order_of(merge(flat("ABCDE"), flat("ABCDE"), flat("EDCBA"))), "EDCBA");
    EXPECT_EQ(order_of(merge(flat("ABCDEF"), flat("ABCDEF"), flat("FEDCBA"))), "FEDCBA");
}

TEST(MergeOrder, RemoteReorderWinsWhereLocalKeptTheOrder) {
    EXPECT_EQ(order_of(merge(flat("EDCBA"), flat("ABCDE"), flat("ABCDE"))), "EDCBA");
    // The local side only added X after A: X stays behind A.
    EXPECT_EQ(order_of(merge(flat("CAB"), flat("ABC"), flat("AXBC"))), "CAXB");
}

TEST(MergeOrder, LocalReorderWinsWhenBothReordered) {
    EXPECT_EQ(order_of(merge(flat("CBA"), flat("ABC"), flat("BCA"))), "BCA");
}

TEST(MergeOrder, OneSidedChildrenKeepTheirPlace) {
    // Added at the end by the remote side while the local side reversed.
    EXPECT_EQ(order_of(merge(flat("ABCDEY"), flat("ABCDE"), flat("EDCBA"))), "EDCBAY");
    // Added at the front locally, at the end remotely.
    EXPECT_EQ(order_of(merge(flat("ABCY"), flat("ABC"), flat("XABC"))), "XABCY");
    // Added in the middle remotely: stays right after its neighbour.
    EXPECT_EQ(order_of(merge(flat("AYBC"), flat("ABC"), flat("CBA"))), "CBAY");
    EXPECT_EQ(order_of(merge(flat("ABYC"), flat("ABC"), flat("CBA"))), "CBYA");
    // Added at the front remotely.
    EXPECT_EQ(order_of(merge(flat("YABC"), flat("ABC"), flat("CBA"))), "YCBA");
}

TEST(MergeOrder, NestedFoldersAreOrderedIndependently) {
    zorvane_node_t base = folder("ROOT", {folder("F", {bookmark("a"), bookmark("b")}),
                                          folder("G", {bookmark("c"), bookmark("d")})});
    zorvane_node_t local = base;
    std::swap(local.children[0].children[0], local.children[0].children[1]);
    zorvane_node_t remote = base;
    std::swap(remote.children[1].children[0], remote.children[1].children[1]);
    std::swap(remote.children[0], remote.children[1]);
    zorvane_node_t out = merge(remote, base, local);
    EXPECT_EQ(order_of(out), "GF");
    EXPECT_EQ(order_of(out.children[0]), "dc");
    EXPECT_EQ(order_of(out.children[1]), "ba");
}

TEST(MergeContent, LocalFieldsWinAndBothSidesChangesArrive) {
    zorvane_node_t base = flat("ABC");
    zorvane_node_t remote = base, local = base;
    remote.children[0].title = u"remote A";
    remote.children[1].title = u"remote B";
    local.children[0].title = u"local A";
    local.children[2].url = "http://elsewhere.example/";
    remote.children.push_back(bookmark("R"));
    local.children.erase(local.children.begin() + 1);  // local deletes B; remote renamed it
    zorvane_node_t out = merge(remote, base, local);
    ASSERT_NE(find_child(out, "A"), nullptr);
    EXPECT_EQ(find_child(out, "A")->title, u"local A");
    EXPECT_EQ(find_child(out, "C")->url, "http://elsewhere.example/");
    EXPECT_NE(find_child(out, "R"), nullptr);
    // The remote rename brings B back: a changed node is put again.
    ASSERT_NE(find_child(out, "B"), nullptr);
    EXPECT_EQ(find_child(out, "B")->title, u"remote B");
}

TEST(MergeContent, SkipDeletesNeverRemovesABaseNode) {
    const std::uint64_t seed = 0x5e1e7e;
    tree_generator gen(seed);
    for (int round = 0; round < 200; ++round) {
        tree_generator::options_t options;
        options.bookmarks = 10 + gen.below(50);
        zorvane_node_t base = gen.make_tree(options);
        zorvane_node_t local = base, remote = base;
        gen.edit(local, 10);
        gen.edit(remote, 10);
        zorvane_node_t out = merge(remote, base, local, true);
        std::vector<zorvane_node_t*> folders, nodes;
        tree_generator::collect(base, folders, nodes);
        for (const zorvane_node_t* n : nodes) {
            ASSERT_NE(find_node(out, n->guid), nullptr) << "seed " << seed << " round " << round;
        }
    }
}

TEST(MergeContent, AddsWhatANewTreeHasWithoutRemoving) {
    zorvane_node_t current = flat("ABC");
    zorvane_node_t fresh = flat("BD");
    zorvane_node_t out = merge(current, current, fresh, true);
    EXPECT_EQ(order_of(out), "ABCD");  // D follows B, and C stays behind B
}

// Sorts children by identifier everywhere, so that two trees can be compared
// regardless of sibling order.
void canonical(zorvane_node_t& n) {
    for (auto& c : n.children) canonical(c);
    std::stable_sort(
        n.children.begin(), n.children.end(),
        [](const zorvane_node_t& a, const zorvane_node_t& b) { return a.guid < b.guid; });
}

std::vector<std::string> shared_order(const zorvane_node_t& of, const zorvane_node_t& with) {
    std::vector<std::string> out;
    for (const auto& c : of.children) {
        if (find_child(with, c.guid)) out.push_back(c.guid);
    }
    return out;
}

// Random permutations and random edits on both sides. In every folder of the
// result the children follow the local order where the local side reordered
// that folder, else the remote order where the remote side did, else the
// local order; and apart from order the result holds exactly what the
// removals and insertions of both sides give.
TEST(MergeProperty, OrderFollowsTheSideThatReordered) {
    const std::uint64_t seed = 0x0dde4001;
    tree_generator gen(seed);
    for (int round = 0; round < 400; ++round) {
        const std::string where =
            "seed " + std::to_string(seed) + " round " + std::to_string(round);
        tree_generator::options_t options;
        options.bookmarks = 5 + gen.below(80);
        options.folder_every = 5;
        zorvane_node_t base = gen.make_tree(options);
        zorvane_node_t local = base, remote = base;
        for (zorvane_node_t* side : {&local, &remote}) {
            gen.edit(*side, gen.below(6));
            std::vector<zorvane_node_t*> folders, nodes;
            tree_generator::collect(*side, folders, nodes);
            std::size_t shuffles = gen.below(4);
            for (std::size_t i = 0; i < shuffles; ++i)
                gen.permute_children(*folders[gen.below(folders.size())]);
        }
        const bool skip = round % 7 == 0;
        merge_input in;
        in.remote = remote;
        in.base = base;
        in.local = local;
        in.skip_deletes = skip;
        zorvane_node_t out;
        merge_trees(in, out);

        // Content: the removals and insertions of both sides, in any order,
        // with one node per identifier (a move is a removal and an insertion).
        zorvane_node_t content = base;
        change_list lc = literal::without_moves(diff_trees(local, base), in);
        change_list rc = literal::without_moves(diff_trees(remote, base), in);
        if (!skip) {
            literal::apply_changes(content, rc, FILTER_DELETE);
            literal::apply_changes(content, lc, FILTER_DELETE);
        }
        literal::apply_changes(content, rc, FILTER_PUT);
        literal::apply_changes(content, lc, FILTER_PUT);
        keep_one_node_per_identifier(content, in);
        zorvane_node_t sorted_out = out;
        canonical(sorted_out);
        canonical(content);
        ASSERT_TRUE(tree_generator::identical(sorted_out, content))
            << where << "\nout " << tree_generator::outline(sorted_out) << "\ncontent "
            << tree_generator::outline(content) << "\nbase " << tree_generator::outline(base)
            << "\nlocal " << tree_generator::outline(local) << "\nremote "
            << tree_generator::outline(remote);

        // Order, folder by folder.
        std::function<void(const zorvane_node_t&, const zorvane_node_t*, const zorvane_node_t*,
                           const zorvane_node_t*)>
            check = [&](const zorvane_node_t& o, const zorvane_node_t* b, const zorvane_node_t* r,
                        const zorvane_node_t* l) {
                bool local_re = l && b && shared_order(*l, *b) != shared_order(*b, *l);
                bool remote_re = r && b && shared_order(*r, *b) != shared_order(*b, *r);
                const zorvane_node_t* decider = local_re ? l : remote_re ? r : l;
                if (decider) {
                    ASSERT_EQ(shared_order(o, *decider), shared_order(*decider, o))
                        << where << " folder " << o.guid
                        << (local_re    ? " local"
                            : remote_re ? " remote"
                                        : " none")
                        << "\nbase   " << tree_generator::outline(base) << "\nlocal  "
                        << tree_generator::outline(local) << "\nremote "
                        << tree_generator::outline(remote) << "\nout    "
                        << tree_generator::outline(out);
                }
                for (const auto& c : o.children) {
                    check(c, find_child(b, c.guid), find_child(r, c.guid), find_child(l, c.guid));
                }
            };
        check(out, &base, &remote, &local);
    }
}

// ---- Nodes moved to another folder ----

// Every identifier below the top of `tree`, with how often it occurs.
std::map<std::string, int> census(const zorvane_node_t& tree) {
    std::map<std::string, int> out;
    std::function<void(const zorvane_node_t&)> walk = [&](const zorvane_node_t& n) {
        for (const auto& c : n.children) {
            ++out[c.guid];
            walk(c);
        }
    };
    walk(tree);
    return out;
}

const zorvane_node_t* parent_of(const zorvane_node_t& tree, const std::string& guid) {
    for (const auto& c : tree.children) {
        if (c.guid == guid) return &tree;
        if (const zorvane_node_t* p = parent_of(c, guid)) return p;
    }
    return nullptr;
}

TEST(MergeMoves, FirstSyncKeepsABookmarkTheBrowserFiledElsewhereOnce) {
    // The account files N under Travel; the browser's own file has it under
    // Hiking. Merging the browser's tree without deletions gives one N, where
    // the browser put it, and keeps everything else of both.
    zorvane_node_t account =
        folder("ROOT", {folder("Travel", {bookmark("N"), bookmark("M")}), bookmark("A")});
    zorvane_node_t browser =
        folder("ROOT", {folder("Hiking", {bookmark("B"), bookmark("N")}), bookmark("A")});
    zorvane_node_t out = merge(account, account, browser, true);
    EXPECT_EQ(census(out),
              (std::map<std::string, int>{
                  {"Travel", 1}, {"Hiking", 1}, {"N", 1}, {"M", 1}, {"A", 1}, {"B", 1}}));
    EXPECT_EQ(parent_of(out, "N")->guid, "Hiking");
    EXPECT_EQ(order_of(*parent_of(out, "B")), "BN");
}

TEST(MergeMoves, ChangesInsideAFolderTheOtherSideMovedAreKept) {
    zorvane_node_t base =
        folder("ROOT", {folder("P", {folder("F", {bookmark("a"), bookmark("b")})}), folder("Q")});
    // Local moves F from P to Q and reverses its children.
    zorvane_node_t local =
        folder("ROOT", {folder("P"), folder("Q", {folder("F", {bookmark("b"), bookmark("a")})})});
    // Remote adds z after a inside F and renames b.
    zorvane_node_t remote = base;
    auto& f = remote.children[0].children[0];
    f.children.insert(f.children.begin() + 1, bookmark("z"));
    f.children[2].title = u"b renamed";
    for (bool skip : {false, true}) {
        zorvane_node_t out = merge(remote, base, local, skip);
        EXPECT_EQ(census(out), (std::map<std::string, int>{
                                   {"P", 1}, {"Q", 1}, {"F", 1}, {"a", 1}, {"b", 1}, {"z", 1}}));
        const zorvane_node_t* moved = find_node(out, "F");
        ASSERT_NE(moved, nullptr);
        EXPECT_EQ(parent_of(out, "F")->guid, "Q");
        EXPECT_EQ(order_of(*moved), "baz");
        EXPECT_EQ(find_node(out, "b")->title, u"b renamed");
    }
}

TEST(MergeMoves, BothSidesMovedTheSameNodeLocalPlaceWins) {
    zorvane_node_t base = folder("ROOT", {folder("P", {bookmark("x")}), folder("Q"), folder("R")});
    zorvane_node_t local = folder("ROOT", {folder("P"), folder("Q", {bookmark("x")}), folder("R")});
    zorvane_node_t remote =
        folder("ROOT", {folder("P"), folder("Q"), folder("R", {bookmark("x")})});
    for (bool skip : {false, true}) {
        zorvane_node_t out = merge(remote, base, local, skip);
        EXPECT_EQ(census(out)["x"], 1);
        EXPECT_EQ(parent_of(out, "x")->guid, "Q");
    }
    // Only the remote side moved it: its place wins.
    zorvane_node_t out = merge(remote, base, base);
    EXPECT_EQ(census(out)["x"], 1);
    EXPECT_EQ(parent_of(out, "x")->guid, "R");
}

TEST(MergeMoves, WhatTheMovingSideDeletedInsideStaysDeleted) {
    zorvane_node_t base =
        folder("ROOT", {folder("P", {folder("F", {bookmark("a"), bookmark("y")})}), folder("Q")});
    zorvane_node_t local =
        folder("ROOT", {folder("P"), folder("Q", {folder("F", {bookmark("a")})})});
    zorvane_node_t remote = base;
    remote.children[0].children[0].children.push_back(bookmark("z"));
    zorvane_node_t out = merge(remote, base, local);
    EXPECT_EQ(census(out).count("y"), 0u);
    EXPECT_EQ(order_of(*find_node(out, "F")), "az");
    // Without deletions nothing goes.
    out = merge(remote, base, local, true);
    EXPECT_EQ(census(out)["y"], 1);
    EXPECT_EQ(census(out)["F"], 1);
}

// Random trees with distinct identifiers and random edits on both sides,
// moves included: the result never holds an identifier twice; without
// deletions it holds every identifier of the three trees; with them, every
// identifier both sides kept.
TEST(MergeMoves, OneNodePerIdentifierAndNothingLostOnRandomTrees) {
    const std::uint64_t seed = 0x70e5a11;
    tree_generator gen(seed);
    for (int round = 0; round < 1500; ++round) {
        tree_generator::options_t options;
        options.bookmarks = 5 + gen.below(60);
        options.folder_every = 3;
        merge_input in;
        in.base = gen.make_tree(options);
        in.local = round % 5 == 0 ? gen.make_tree(options) : in.base;
        in.remote = in.base;
        gen.edit(in.local, gen.below(10));
        gen.edit(in.remote, gen.below(10));
        in.skip_deletes = round % 2 == 0;
        const auto base = census(in.base), local = census(in.local), remote = census(in.remote);
        zorvane_node_t out;
        merge_trees(in, out);
        const auto result = census(out);
        const std::string where =
            "seed " + std::to_string(seed) + " round " + std::to_string(round);
        for (const auto& [guid, count] : result) ASSERT_EQ(count, 1) << where << " " << guid;
        for (const auto* side : {&base, &local, &remote}) {
            for (const auto& [guid, count] : *side) {
                const bool kept = in.skip_deletes || (local.count(guid) && remote.count(guid)) ||
                                  (!base.count(guid));
                if (kept) {
                    ASSERT_EQ(result.count(guid), 1u) << where << " " << guid;
                }
            }
        }
    }
}

// A remote side that is the base itself, merged without a copy of it
// (remote_is_base), gives exactly what the copy gives: random trees, with and
// without repeated identifiers, with and without deletions.
TEST(MergeTrees, RemoteThatIsTheBaseNeedsNoCopy) {
    const std::uint64_t seed = 0x5a3eba5e;
    tree_generator gen(seed);
    for (int round = 0; round < 400; ++round) {
        tree_generator::options_t options;
        options.bookmarks = 5 + gen.below(60);
        options.folder_every = 3;
        options.repeat_guid = round % 4 == 0 ? 0.1 : 0.0;
        merge_input copied;
        copied.base = gen.make_tree(options);
        copied.local = round % 5 == 0 ? gen.make_tree(options) : copied.base;
        gen.edit(copied.local, gen.below(12));
        copied.remote = copied.base;
        copied.skip_deletes = round % 2 == 0;
        merge_input aliased;
        aliased.base = copied.base;
        aliased.local = copied.local;
        aliased.skip_deletes = copied.skip_deletes;
        aliased.remote_is_base = true;
        zorvane_node_t from_copy, from_alias;
        merge_trees(copied, from_copy);
        merge_trees(aliased, from_alias);
        ASSERT_TRUE(tree_generator::identical(from_copy, from_alias))
            << "seed " << seed << " round " << round;
    }
}

// Merging three equal trees gives that tree back (a sync handing over the
// record's own tree changes nothing). Trees that repeat an identifier are
// the exception: the merge gives every copy the same fields.
TEST(MergeProperty, ThreeEqualTreesMergeIntoThatTree) {
    const std::uint64_t seed = 0x5a3e7ee5;
    tree_generator gen(seed);
    for (int round = 0; round < 600; ++round) {
        tree_generator::options_t options;
        options.bookmarks = 1 + gen.below(80);
        options.folder_every = 1 + gen.below(6);
        zorvane_node_t tree = gen.make_tree(options);
        gen.edit(tree, gen.below(8));
        for (bool skip_deletes : {false, true}) {
            ASSERT_TRUE(trees_equal(merge(tree, tree, tree, skip_deletes), tree))
                << "seed " << seed << " round " << round << " skip_deletes " << skip_deletes;
        }
    }
}

// The fast merge against the literal one on thousands of random trees,
// repeated identifiers included.
TEST(MergeDifferential, MatchesLiteralImplementation) {
    const std::uint64_t seed = 0xd1ff0003;
    tree_generator gen(seed);
    for (int round = 0; round < 3000; ++round) {
        tree_generator::options_t options;
        options.bookmarks = gen.below(40);
        options.folder_every = 3;
        options.guid_alphabet = round % 3 == 0 ? 0 : 3 + gen.below(25);
        merge_input in;
        in.base = gen.make_tree(options);
        in.local = round % 11 == 0 ? gen.make_tree(options) : in.base;
        in.remote = round % 13 == 0 ? gen.make_tree(options) : in.base;
        gen.edit(in.local, gen.below(8));
        gen.edit(in.remote, gen.below(8));
        for (zorvane_node_t* side : {&in.local, &in.remote}) {
            std::vector<zorvane_node_t*> folders, nodes;
            tree_generator::collect(*side, folders, nodes);
            if (gen.chance(0.5)) gen.permute_children(*folders[gen.below(folders.size())]);
        }
        in.skip_deletes = round % 4 == 0;
        zorvane_node_t fast, slow;
        merge_trees(in, fast);
        literal::merge_trees(in, slow);
        ASSERT_TRUE(tree_generator::identical(fast, slow))
            << "seed " << seed << " round " << round << "\nfast " << tree_generator::outline(fast)
            << "\nslow " << tree_generator::outline(slow);
    }
}

zorvane_node_t query(const std::string& guid, const std::string& url) {
    zorvane_node_t q(NODE_QUERY, guid);
    q.title = u"q";
    q.url = url;
    return q;
}

zorvane_node_t separator(const std::string& guid) { return zorvane_node_t(NODE_SEPARATOR, guid); }

TEST(AdoptIncoming, BrowserAndWebTreesAreTakenAsTheyAre) {
    zorvane_node_t incoming = flat("AB");
    zorvane_node_t local = flat("C");
    for (const char* type : {"WEB", "FIREFOX"}) {
        adopt_input in{type, incoming, local};
        zorvane_node_t out;
        adopt_incoming(in, out);
        EXPECT_TRUE(tree_generator::identical(out, incoming)) << type;
    }
}

TEST(AdoptIncoming, KeepsMenuQueriesAndTidiesSeparators) {
    zorvane_node_t local =
        folder("ROOT", {folder("BOOKMARK_MENU", {query("q1", "place:a"), bookmark("m1"),
                                                 folder("F", {bookmark("x")}),
                                                 folder("BOOKMARK_NOTES", {bookmark("n")})}),
                        folder("BOOKMARK_TOOLBAR", {bookmark("t1")}), query("top", "place:top"),
                        bookmark("gone")});
    zorvane_node_t incoming =
        folder("ROOT", {folder("BOOKMARK_MENU",
                               {query("q2", "place:a"), separator("s0"), bookmark("i1"),
                                separator("s1"), separator("s2"), bookmark("i2"), separator("s3")}),
                        folder("BOOKMARK_TOOLBAR",
                               {bookmark("t2"), folder("G", {separator("s4"), separator("s5")})}),
                        query("topdup", "place:top")});
    using adopt_function = void (*)(const adopt_input&, zorvane_node_t&);
    const adopt_function fast = [](const adopt_input& in, zorvane_node_t& out) {
        adopt_incoming(in, out);
    };
    for (adopt_function adopt : {fast, &literal::adopt_incoming}) {
        adopt_input in{"", incoming, local};
        zorvane_node_t out;
        adopt(in, out);
        EXPECT_EQ(order_of(out), "BOOKMARK_MENUBOOKMARK_TOOLBARtop");
        const zorvane_node_t* menu = find_child(out, "BOOKMARK_MENU");
        ASSERT_NE(menu, nullptr);
        // The browser's query stays, the incoming one with its address does
        // not arrive, the emptied notes folder stays; separators are tidied
        // (a leading one stays).
        EXPECT_EQ(order_of(*menu), "q1BOOKMARK_NOTESs0i1s1i2");
        EXPECT_TRUE(find_child(menu, "BOOKMARK_NOTES")->children.empty());
        EXPECT_EQ(order_of(*find_child(out, "BOOKMARK_TOOLBAR")), "t2G");
        EXPECT_EQ(order_of(*find_node(out, "G")), "");  // s5 follows s4, s4 is last
        EXPECT_EQ(find_node(out, "gone"), nullptr);
        EXPECT_EQ(find_node(out, "topdup"), nullptr);
    }
}

TEST(AdoptIncoming, NoAdjacentSeparatorsAnywhere) {
    const std::uint64_t seed = 0xad0b7;
    tree_generator gen(seed);
    for (int round = 0; round < 200; ++round) {
        tree_generator::options_t options;
        options.bookmarks = gen.below(60);
        zorvane_node_t incoming = gen.make_tree(options);
        zorvane_node_t local = gen.make_tree(options);
        for (int i = 0; i < 6; ++i) {
            std::vector<zorvane_node_t*> folders, nodes;
            tree_generator::collect(incoming, folders, nodes);
            auto& f = *folders[gen.below(folders.size())];
            f.children.insert(
                f.children.begin() + static_cast<std::ptrdiff_t>(gen.below(f.children.size() + 1)),
                separator("sep" + std::to_string(round) + "_" + std::to_string(i)));
        }
        adopt_input in{"OPERA", incoming, local};
        zorvane_node_t fast, slow;
        adopt_incoming(in, fast);
        literal::adopt_incoming(in, slow);
        ASSERT_TRUE(tree_generator::identical(fast, slow)) << "seed " << seed << " round " << round;
        std::function<void(const zorvane_node_t&)> check = [&](const zorvane_node_t& n) {
            for (std::size_t i = 0; i < n.children.size(); ++i) {
                if (n.type == NODE_FOLDER || &n == &fast) {
                    if (i > 0) {
                        ASSERT_FALSE(n.children[i].type == NODE_SEPARATOR &&
                                     n.children[i - 1].type == NODE_SEPARATOR)
                            << "seed " << seed << " round " << round;
                    }
                }
                check(n.children[i]);
            }
        };
        check(fast);
    }
}

}  // namespace
}  // namespace Core_ZorvaneMerge
