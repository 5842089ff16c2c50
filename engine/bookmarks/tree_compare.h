// Public engine surface: equality of bookmark nodes and of whole trees.
//
// Both functions are pure and thread-safe for trees nobody modifies.
#pragma once

#include "bookmarks/bookmark_node.h"

namespace Core_ZorvaneMerge {

// Compares the nodes' own fields, never their children. When `a` is a kernel
// node (only the first argument is tested) the nodes are equal exactly when
// their identifiers are. Otherwise they are equal when identifier, type,
// title, description, keyword, tag and feed address (byte for byte) are
// equal and the addresses have equal comparison keys (url_forms.h). Times
// and `index` are not compared.
bool node_equal(const zorvane_node_t& a, const zorvane_node_t& b);

// Order-sensitive equality of two subtrees: equal `index`, node_equal, and
// the same number of children, pairwise equal at every position.
bool trees_equal(const zorvane_node_t& a, const zorvane_node_t& b);

}  // namespace Core_ZorvaneMerge
