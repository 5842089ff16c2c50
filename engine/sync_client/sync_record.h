// Public engine surface: the record of the last synchronisation.
//
// A sync_record_t is what the sync client keeps of the account's bookmarks
// as the server last confirmed them: the server's version number, the date
// text the server sent, and the tree. The local store saves and loads it
// (sync_client/local_store.h); the component front reads it.
//
// A value type; not synchronised.
#pragma once

#include <cstdint>
#include <string>

#include "bookmarks/bookmark_node.h"

namespace Core_ZorvaneClient {

struct sync_record_t {
    // The server's version of the account's bookmarks; -1 when there is none.
    std::int32_t version = -1;
    // The server's "BookmarkDate" text as received (ANSI code page).
    std::string date;
    // The tree; the empty tree (type 0) when there is none.
    Core_ZorvaneMerge::zorvane_node_t tree;
};

// True when `tree` holds a tree: its top node's type is not 0.
inline bool tree_present(const Core_ZorvaneMerge::zorvane_node_t& tree) {
    return tree.type != Core_ZorvaneMerge::NODE_NONE;
}

}  // namespace Core_ZorvaneClient
