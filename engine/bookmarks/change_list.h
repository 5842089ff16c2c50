// Public engine surface: change lists between bookmark trees.
//
// A change list is the ordered sequence of records that turns one tree into
// another; records are applied in list order. `diff_trees` lists insertions,
// updates and deletions, `moves_between` lists the reordering of children,
// and `apply_changes` applies one kind of record to a tree.
//
// Parents are found by identifier (find_node in bookmark_node.h: "ROOT" is
// the top, otherwise the first match in pre-order), so a record applies
// wherever its parent is in the target tree. Records whose parent or node
// cannot be found are skipped silently; nothing here fails.
//
// Not synchronised; pure apart from the tree passed to apply_changes.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "bookmarks/bookmark_node.h"

namespace Core_ZorvaneMerge {

enum change_op_enum : std::int32_t {
    change_path = 1,    // make sure an ancestor of a changed node exists under its parent
    change_put = 2,     // insert the node under its parent, or update its own fields
    change_delete = 3,  // remove the node with its subtree
    change_move = 4,    // move the node to position node.index among its parent's children
};

struct change_record {
    std::int32_t op = 0;      // change_op_enum
    zorvane_node_t node;      // put, delete, move: the node with its subtree;
                              // path: the node's own fields without children
    std::string parent_guid;  // the parent under which the change applies;
                              // empty for a change at the top of the tree
};

using change_list = std::vector<change_record>;

// Which records apply_changes applies.
enum change_filter_enum : std::int32_t {
    FILTER_PUT = 1,     // change_path and change_put
    FILTER_DELETE = 2,  // change_delete
    FILTER_MOVE = 3,    // change_move
};

// What turns `old_tree` into `new_tree`. A change_put for the top when the
// tops differ (node_equal); then, folder by folder in pre-order of
// `new_tree`: a change_delete for each child of the old folder that the new
// one lacks, and for each child of the new folder that is missing from the
// old one or differs from it, the change_path records of its ancestors from
// the top down followed by a change_put carrying its whole subtree. Children
// are matched by identifier among the direct children of folders matched the
// same way. The diff of a tree against itself is empty.
change_list diff_trees(const zorvane_node_t& new_tree, const zorvane_node_t& old_tree);

// The reordering that makes the order of children in `old_tree` follow
// `new_tree`, folder by folder (folders matched by identifier from the top).
// Applying the list to `old_tree` with FILTER_MOVE puts the children both
// trees share in `new_tree`'s order at the front of each folder, followed by
// the children only `old_tree` has, in their previous order. Each record's
// `node.index` is the target position; a record is listed only where the
// child is not already there when the earlier records have been applied.
change_list moves_between(const zorvane_node_t& new_tree, const zorvane_node_t& old_tree);

// Applies the records of `list` selected by `filter` to `tree` in place:
//  - change_path: appends a copy of the node without children when the
//    parent has no child with its identifier;
//  - change_put: appends a copy with its subtree when the parent has no child
//    with its identifier, otherwise takes title, type, description, tag,
//    keyword, url, feed_url, created and modified from the record (identifier,
//    `index` and children of the existing node stay);
//  - change_delete: removes the first child with the identifier;
//  - change_move: takes the first child with the identifier out and inserts
//    it at position `node.index` (at the end when that is past the last).
// A record's parent is found through an index of the tree, not by a search
// from the top, so large trees and long lists stay fast.
void apply_changes(zorvane_node_t& tree, const change_list& list, change_filter_enum filter);

}  // namespace Core_ZorvaneMerge
