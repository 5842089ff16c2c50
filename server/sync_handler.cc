#include "sync_handler.h"

#include <exception>

#include "bookmarks/tree_xml.h"
#include "utc_time.h"

namespace Core_Server {
namespace {

sync_reply_t result_only(const char* result) {
    sync_reply_t reply;
    reply.result = result;
    return reply;
}

// True when reading a request's part refused it; `answer` then says why:
// "PROTOCOL_ERROR" for what is no request, "POLICY" for what is too large.
bool refused(request_read_enum read, sync_reply_t& answer) {
    switch (read) {
        case request_read_enum::READ:
            return false;
        case request_read_enum::MALFORMED:
            answer = result_only(result_name::PROTOCOL_ERROR);
            return true;
        case request_read_enum::TOO_LARGE:
            answer = result_only(result_name::POLICY);
            return true;
    }
    return false;
}

// The reply "EXCEPTION" alone; an empty body when even that cannot be made.
void exception_reply(reply_t& reply) {
    reply.result = result_name::EXCEPTION;
    try {
        if (!write_sync_reply(result_only(result_name::EXCEPTION), reply.body)) reply.body.clear();
    } catch (...) {
        reply.body.clear();
    }
}

}  // namespace

void sync_handler_t::store_failed(const request_t& request, const std::string& error) {
    m_log.note("store failure for peer " + request.peer + ": " + error);
}

void sync_handler_t::handle(const request_t& request, reply_t& reply) {
    try {
        answer(request, reply);
    } catch (const std::exception& e) {
        m_log.note(std::string("request from ") + request.peer + " failed: " + e.what());
        reply.hold = {};
        exception_reply(reply);
    } catch (...) {
        m_log.note("request from " + request.peer + " failed");
        reply.hold = {};
        exception_reply(reply);
    }
}

void sync_handler_t::answer(const request_t& request, reply_t& reply) {
    sync_reply_t answer;
    auto finish = [&] {
        reply.result = answer.commit && answer.result == result_name::OK ? answer.commit->result
                                                                         : answer.result;
        // The answer's tree moves into the reply rather than being copied.
        if (!write_sync_reply(std::move(answer), reply.body)) {
            // Only an exhausted codec gets here; a bare "EXCEPTION" is tried.
            answer = result_only(result_name::EXCEPTION);
            reply.result = answer.result;
            answer.data.clear();
            if (!write_sync_reply(answer, reply.body)) reply.body.clear();
        }
    };
    if (request.busy) {
        answer = result_only(result_name::BUSY);
        return finish();
    }
    sync_request_t sync;
    if (refused(read_sync_request(request.body, m_options.limits, sync), answer)) return finish();
    reply.user = sync.user;
    reply.action = sync.action == sync_action_enum::UPDATE ? "Update"
                   : sync.overwrite                        ? "OverWrite"
                                                           : "Commit";
    const auto now = std::chrono::steady_clock::now();
    std::string error;
    const bool maintenance = m_maintenance.on(now, error);
    if (!error.empty()) store_failed(request, error);
    if (maintenance) {
        answer = result_only(result_name::MAINTENANCE);
        return finish();
    }
    store_pool_t::lease_t store;
    if (auto status = m_stores.borrow(store); !status.ok()) {
        store_failed(request, status.message);
        answer = result_only(result_name::EXCEPTION);
        return finish();
    }
    const auto auth = m_authenticator.authenticate(*store, sync.user, sync.password, sync.peer_id,
                                                   request.peer_address, now);
    if (!auth.warning.empty()) store_failed(request, auth.warning);
    switch (auth.outcome) {
        case auth_outcome_enum::OK:
            break;
        case auth_outcome_enum::THROTTLED:
            reply.hold = auth.hold;
            [[fallthrough]];
        case auth_outcome_enum::INVALID:
            answer = result_only(result_name::INVALID_PASSWORD);
            return finish();
        case auth_outcome_enum::BUSY:
            answer = result_only(result_name::BUSY);
            return finish();
        case auth_outcome_enum::STORE_FAILED:
            store.discard();
            store_failed(request, auth.error);
            answer = result_only(result_name::EXCEPTION);
            return finish();
    }
    // Only now is the data part unpacked, and kept only for a commit.
    if (refused(read_request_data(sync, m_options.limits, sync.action == sync_action_enum::COMMIT),
                answer)) {
        return finish();
    }
    const bool ok = sync.action == sync_action_enum::UPDATE
                        ? answer_update(*store, auth.account, sync, answer, error)
                        : answer_commit(*store, auth.account, sync, answer, error);
    if (!ok) {
        store.discard();
        store_failed(request, error);
        answer = result_only(result_name::EXCEPTION);
    }
    finish();
}

bool sync_handler_t::answer_update(InterfaceStore& store, const account_t& account,
                                   const sync_request_t& request, sync_reply_t& answer,
                                   std::string& error) {
    tree_version_t latest;
    auto status = store.latest_version(account.id, false, latest);
    if (status.code == store_status_t::NOT_FOUND) {
        answer = result_only(result_name::NO_RECORD);
        return true;
    }
    if (!status.ok()) {
        error = status.message;
        return false;
    }
    answer = result_only(result_name::OK);
    if (request.baseline == latest.version) return true;
    status = store.latest_version(account.id, true, latest);
    if (status.code == store_status_t::NOT_FOUND) {
        // The account went between the two reads.
        answer = result_only(result_name::NO_RECORD);
        return true;
    }
    if (!status.ok()) {
        error = status.message;
        return false;
    }
    answer.update = sync_reply_t::update_t{latest.version, latest.date, latest.client_type};
    answer.data = std::move(latest.tree);
    return true;
}

bool sync_handler_t::answer_commit(InterfaceStore& store, const account_t& account,
                                   sync_request_t& request, sync_reply_t& answer,
                                   std::string& error) {
    // Only an acceptable tree is stored; it is checked without being kept
    // (for a large account the tree would take as much memory as its
    // document). A tree larger than the limit was answered "POLICY" as the
    // request and its data part were read.
    if (!Core_ZorvaneMerge::is_tree_document(request.data)) {
        answer = result_only(result_name::PROTOCOL_ERROR);
        return true;
    }
    commit_request_t commit;
    commit.account_id = account.id;
    commit.baseline = request.baseline < 0 || request.baseline > INT32_MAX
                          ? -1
                          : static_cast<std::int32_t>(request.baseline);
    commit.overwrite = request.overwrite;
    commit.client_type = request.client_type;
    commit.tree = std::move(request.data);
    commit.date = utc_now_text();
    commit_result_t result;
    const auto status = store.commit(std::move(commit), result);
    if (status.code == store_status_t::NOT_FOUND) {
        // Deleted by the operator since the password check.
        answer = result_only(result_name::INVALID_PASSWORD);
        return true;
    }
    if (!status.ok()) {
        error = status.message;
        return false;
    }
    answer = result_only(result_name::OK);
    sync_reply_t::commit_t c;
    c.result = result.outcome == commit_outcome_enum::COMMITTED ? result_name::OK
                                                                : result_name::INVALID_VERSION;
    c.version = result.version.version;
    c.date = result.version.date;
    c.client_type = result.version.client_type;
    answer.commit = c;
    answer.data = std::move(result.version.tree);
    return true;
}

}  // namespace Core_Server
