// The zorvane program: the guard against wiping an account by accident.
//
// Before a sync or an overwrite the host compares the browser's tree with
// the last synchronised one. An action that would remove more than half of
// the synchronised bookmarks, or more than kMassDeleteLimit of them, is
// refused unless the person asked for it explicitly.
#pragma once

#include <cstddef>
#include <functional>
#include <ostream>
#include <string>
#include <string_view>

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

// Whether `wide` converts to exactly `utf8`, found a piece at a time (no
// surrogate pair cut) rather than by converting it whole.
bool same_document(std::u16string_view wide, std::string_view utf8);

// Whether the record of `data_dir` holds local changes that wait for a
// commit (a first sync that did not finish): a sync then deletes nothing.
bool local_changes_pending(const std::string& data_dir, const std::string& user,
                           const std::string& password);

// The guard itself; true when `action` ("sync" or "overwrite") may go on.
// `last_document` is the stored tree's document as the component gives it
// (empty without one), `browser` the tree about to be handed over. The
// caller has found the two documents to differ (same_document): the same
// document removes nothing, and the stored one is only read when they
// differ. `allowed` is --allow-mass-delete; `deletes_nothing` is asked,
// only when needed, whether a sync merges without deleting. A refusal, or
// an allowed mass delete, is told in one line on `err`.
bool guard_allows(std::u16string_view last_document,
                  const Core_ZorvaneMerge::zorvane_node_t& browser, bool allowed,
                  const char* action, const std::function<bool()>& deletes_nothing,
                  std::ostream& err);

}  // namespace Zorvane_Cli
