// Public engine surface: the three-way merge of bookmark trees and the
// adoption of a tree written by another client type.
//
// Both operations take their trees by value semantics (the inputs are never
// modified) and keep no state between calls. Their only failure is an input
// nested deeper than kMaxTreeDepth (bookmark_node.h), which no reader of
// trees lets in: they then return false with `out` set to the empty tree
// zorvane_node_t(0, ""). Not synchronised.
#pragma once

#include <string>

#include "bookmarks/bookmark_node.h"

namespace Core_ZorvaneMerge {

struct merge_input {
    zorvane_node_t remote;      // the tree of the other side
    zorvane_node_t base;        // the last common state
    zorvane_node_t local;       // the tree of this side
    bool skip_deletes = false;  // when true, nothing is removed
    // When true, the other side's tree is `base` itself and `remote` is
    // not used: a caller merging onto an unchanged side saves a copy of a
    // tree that may be a hundred megabytes.
    bool remote_is_base = false;

    merge_input() : remote(0, ""), base(0, ""), local(0, "") {}
    const zorvane_node_t& remote_tree() const { return remote_is_base ? base : remote; }
};

struct adopt_input {
    std::string client_type;  // the client type that produced `incoming`
    zorvane_node_t incoming;
    zorvane_node_t local;  // the browser's current tree
};

// Combines both sides' changes since `base` into `out` (replaced whole):
//  - removals: what either side deleted since `base` (unless skip_deletes);
//  - insertions and updates: what either side added or changed, the remote
//    side first, so that where both changed the same node the local side's
//    fields win;
//  - order: in every folder, the children follow the local tree's order if
//    the local side reordered that folder since `base`, else the remote
//    tree's order if the remote side did; when neither did, new children take
//    the places their side gave them. A child the deciding side does not have
//    keeps its place: at the front, at the end, or right after the sibling it
//    followed. "Reordered" means the children the side shares with `base`
//    are in another relative order than in `base`.
// Folders are matched by identifier from the top down. With skip_deletes
// true a node present in `base` is never removed.
bool merge_trees(const merge_input& input, zorvane_node_t& out);

// The tree the browser adopts when the server's tree came from
// `input.client_type`. For "FIREFOX" and "WEB" that is the incoming tree
// itself. Otherwise the browser's tree is cut down to its fixed folders and
// its queries (every fixed folder but the menu emptied, only queries kept at
// the top and in the menu), the incoming tree is added to it (incoming
// queries whose address the browser already has there are left out), and
// separators are tidied: none directly after another, none at the end of a
// folder.
bool adopt_incoming(const adopt_input& input, zorvane_node_t& out);

}  // namespace Core_ZorvaneMerge
