// Internal to the server: the answer to every sync request.
//
// For each request, in this order:
//   - the server over one of its limits: "BUSY";
//   - a body that does not open or read as a request, or breaks one of the
//     caps of sync_message.h (sizes, nesting, field rules): "PROTOCOL_ERROR";
//     a payload or data part beyond the tree limit: "POLICY". Nothing of
//     such a request reaches the store, the throttle or the log. Only the
//     lengths and the message document are unpacked for this; the data part
//     stays packed until the password is checked;
//   - maintenance mode on: "MAINTENANCE";
//   - unknown user, wrong password, or too many recent failures:
//     "INVALID_PASSWORD" (never saying which; a refusal by the throttle is
//     held as long as a password check takes); too many password checks
//     under way: "BUSY";
//   - a data part that does not unpack to the length its payload states:
//     "PROTOCOL_ERROR" (unpacked and kept for a commit, only checked for an
//     update);
//   - Update: no stored tree, "NO_RECORD"; a baseline equal to the stored
//     version, "OK" alone; otherwise "OK" with "Update" (version, date,
//     submitting client type) and the stored tree as data;
//   - Commit: a data part that is not an acceptable tree, "PROTOCOL_ERROR";
//     otherwise the store decides (store.h): "OK" with a "Commit" whose
//     result is "OK" and the new version, or "INVALID_VERSION" and the
//     stored one, each with its tree;
//   - the store failing at any point, or anything thrown while handling
//     (memory running out included): "EXCEPTION"; the details go to the
//     server's log, never into the reply.
// Thread-safe; each call borrows its own store from the pool.
#pragma once

#include <chrono>
#include <cstddef>

#include "authenticator.h"
#include "common/size_limits.h"
#include "maintenance_watch.h"
#include "request_handler.h"
#include "request_log.h"
#include "store_pool.h"
#include "sync_message.h"

namespace Core_Server {

struct sync_handler_options_t {
    request_limits_t limits;
};

class sync_handler_t final : public InterfaceRequestHandler {
public:
    // Every argument must outlive the handler.
    sync_handler_t(const sync_handler_options_t& options, store_pool_t& stores,
                   authenticator_t& authenticator, maintenance_watch_t& maintenance,
                   request_log_t& log)
        : m_options(options),
          m_stores(stores),
          m_authenticator(authenticator),
          m_maintenance(maintenance),
          m_log(log) {}

    void handle(const request_t& request, reply_t& reply) override;

private:
    // handle() without its guard against exceptions.
    void answer(const request_t& request, reply_t& reply);
    // Fills `answer` for an authenticated request; returns false when the
    // store failed (`error` says how).
    bool answer_update(InterfaceStore& store, const account_t& account,
                       const sync_request_t& request, sync_reply_t& answer, std::string& error);
    // Takes the request's tree (its data part) over.
    bool answer_commit(InterfaceStore& store, const account_t& account, sync_request_t& request,
                       sync_reply_t& answer, std::string& error);
    void store_failed(const request_t& request, const std::string& error);

    const sync_handler_options_t m_options;
    store_pool_t& m_stores;
    authenticator_t& m_authenticator;
    maintenance_watch_t& m_maintenance;
    request_log_t& m_log;
};

}  // namespace Core_Server
