// Test support (tests and benchmarks only): a literal
// implementation of the change-list operations and the merge.
//
// Every function here has the same observable results as its namesake in
// change_list.h and merge.h, computed the plain way: each record's parent is
// found by a depth-first scan from the top of the tree, each child by a scan
// of its siblings, and children are inserted and erased in place. That makes
// them quadratic in the size of the tree; they exist to check the fast
// implementations against (differential tests) and to measure them (the
// benchmarks). The engine itself never calls them.
#pragma once

#include "bookmarks/change_list.h"
#include "bookmarks/merge.h"

namespace Core_ZorvaneMerge::literal {

change_list diff_trees(const zorvane_node_t& new_tree, const zorvane_node_t& old_tree);
change_list moves_between(const zorvane_node_t& new_tree, const zorvane_node_t& old_tree);
void apply_changes(zorvane_node_t& tree, const change_list& list, change_filter_enum filter);
void merge_trees(const merge_input& input, zorvane_node_t& out);
// One side's records (`list`, from diff_trees against input.base) without
// those the merge leaves out because of that side's moves (moved_nodes.h).
change_list without_moves(const change_list& list, const merge_input& input);
void adopt_incoming(const adopt_input& input, zorvane_node_t& out);

}  // namespace Core_ZorvaneMerge::literal
