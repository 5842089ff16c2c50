// Internal to engine/bookmarks: the difference of two trees as records that
// point into the trees instead of copying them.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "bookmarks/bookmark_node.h"

namespace Core_ZorvaneMerge {

// One record of diff_trees (change_list.h) without the copies: `node` points
// into the new tree (path, put) or the old tree (delete); for a change_path
// only the node's own fields count. `parent_guid` points to an identifier in
// one of the trees, or to an empty string for the top. Valid while both trees
// are alive and unchanged.
struct diff_entry {
    std::int32_t op = 0;
    const zorvane_node_t* node = nullptr;
    const std::string* parent_guid = nullptr;
};

// Appends the records of diff_trees(new_tree, old_tree) to `out`, in the same
// order, without copying nodes. `old_has_repeats` false promises that no
// identifier occurs twice below the top of `old_tree`, which lets folders
// whose children are unchanged be compared position by position.
void diff_entries(const zorvane_node_t& new_tree, const zorvane_node_t& old_tree,
                  std::vector<diff_entry>& out, bool old_has_repeats = true);

// A copy of a node's own fields, without children.
zorvane_node_t copy_fields(const zorvane_node_t& node);

}  // namespace Core_ZorvaneMerge
