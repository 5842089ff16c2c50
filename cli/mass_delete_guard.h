// The zorvane program: the guard against wiping an account by accident.
//
// Before a sync or an overwrite the host compares the browser's tree with
// the last synchronised one. An action that would remove more than half of
// the synchronised bookmarks, or more than kMassDeleteLimit of them, is
// refused unless the person asked for it explicitly.
#pragma once

#include <cstddef>

#include "bookmarks/bookmark_node.h"

namespace Zorvane_Cli {

inline constexpr std::size_t kMassDeleteLimit = 1000;

struct removal_count_t {
    std::size_t synchronised = 0;  // bookmarks in the last synchronised tree
    std::size_t removed = 0;       // of those, absent from the browser's tree
};

// Counts the bookmarks (nodes of type bookmark, by identifier) of `last`
// that `browser` no longer holds. Pure.
removal_count_t count_removals(const Core_ZorvaneMerge::zorvane_node_t& last,
                               const Core_ZorvaneMerge::zorvane_node_t& browser);

// True when `count` removes more than half of the synchronised bookmarks or
// more than kMassDeleteLimit.
bool is_mass_delete(const removal_count_t& count);

// The number of nodes in `tree`, its top included; 0 for the empty tree.
std::size_t node_count(const Core_ZorvaneMerge::zorvane_node_t& tree);

}  // namespace Zorvane_Cli
