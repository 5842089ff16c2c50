#include "sync_client/completion_callbacks.h"

namespace Core_ZorvaneClient {
namespace {

struct callbacks_t {
    update_done_t update;
    sync_done_t sync;
    overwrite_done_t overwrite;
};

callbacks_t& callbacks() {
    static auto* all = new callbacks_t;
    return *all;
}

}  // namespace

void set_update_done(update_done_t callback) { callbacks().update = std::move(callback); }
void set_sync_done(sync_done_t callback) { callbacks().sync = std::move(callback); }
void set_overwrite_done(overwrite_done_t callback) { callbacks().overwrite = std::move(callback); }

const update_done_t& update_done() { return callbacks().update; }
const sync_done_t& sync_done() { return callbacks().sync; }
const overwrite_done_t& overwrite_done() { return callbacks().overwrite; }

}  // namespace Core_ZorvaneClient
