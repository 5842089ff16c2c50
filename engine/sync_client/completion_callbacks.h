// Public engine surface: the process-wide completion callbacks of the sync
// client's three actions.
//
// The component front registers them once; each is empty until then. The
// sync client calls the one of its action when a started action ends with a
// reply or a transport failure, on the main thread, inside the framework's
// pump (or inside the start call itself when no server is configured or the
// request cannot be packed; both end the action as a transport failure).
// Checks that refuse an action before a request is sent call none of them,
// and neither does a cancelled action. The error is success (value 0) or a
// value of zorvane_category (sync_client/zorvane_error.h).
//
// Thread rule: register on the main thread before starting actions.
#pragma once

#include <boost/system/error_code.hpp>
#include <functional>

#include "bookmarks/bookmark_node.h"

namespace Core_ZorvaneClient {

using update_done_t = std::function<void(const boost::system::error_code& error)>;
// `tree` is the tree the scripts handed to the sync (the host may ignore it);
// it is the client's own, valid until the client is called again: a callback
// that starts another action copies what it needs of it first.
using sync_done_t = std::function<void(const boost::system::error_code& error,
                                       const Core_ZorvaneMerge::zorvane_node_t& tree)>;
using overwrite_done_t = std::function<void(const boost::system::error_code& error)>;

// Replace the callback; an empty function unregisters it.
void set_update_done(update_done_t callback);
void set_sync_done(sync_done_t callback);
void set_overwrite_done(overwrite_done_t callback);

// The registered callbacks (empty when none).
const update_done_t& update_done();
const sync_done_t& sync_done();
const overwrite_done_t& overwrite_done();

}  // namespace Core_ZorvaneClient
