// The sync client's reading of the server's replies (the request side is in
// zorvane_client.cc).
#include "bookmarks/merge.h"
#include "bookmarks/tree_compare.h"
#include "bookmarks/tree_xml.h"
#include "sync_client/sync_messages.h"
#include "sync_client/sync_payload.h"
#include "sync_client/zorvane_client.h"
#include "sync_client/zorvane_error.h"
#include "sync_client/zorvane_log.h"

namespace Core_ZorvaneClient {
namespace {

using Core_Common::xml_node_t;
using Core_ZorvaneMerge::zorvane_node_t;
namespace el = sync_element;

zorvane_node_t tree_of(const std::string& data_part) {
    zorvane_node_t tree;
    Core_ZorvaneMerge::read_tree(data_part, tree);
    return tree;
}

}  // namespace

void ZorvaneClient::handle_update_reply(const std::string& body, boost::system::error_code& error) {
    error = make_error_code(ZORVANE_INVALID_PROTOCOL);
    xml_node_t document;
    std::string data_part;
    if (open_reply(body, document, data_part)) {
        const xml_node_t& response = *document.find_path(el::kResponsePath);
        const Core_Common::service_error_t result = read_server_result(response);
        if (result.is_error()) {
            if (result.code == Core_Common::SERVICE_NO_RECORD) m_account.verified = true;
            error = client_error_from_service(result);
        } else if (const xml_node_t* update = response.find_child(el::kUpdate); update == nullptr) {
            error = boost::system::error_code();
            log_sync(std::string(kLogUpdateLatest) + "0");
            m_account.verified = true;
            return;
        } else {
            std::int32_t version = 0;
            if (update->get_child(el::kBookmarkVersion, version)) {
                update->get_child(el::kSubmitClientType, m_submit_client_type);
                std::string date;
                update->get_child(el::kBookmarkDate, date);
                m_last_sync.version = version;
                m_last_sync.date = std::move(date);
                error = boost::system::error_code();
                m_last_sync.tree = tree_of(data_part);
                log_sync(kLogUpdateVersion + std::to_string(version));
                m_account.verified = true;
                return;
            }
        }
    }
    m_action = ACTION_IDLE;
    log_sync(kLogUpdateFailed);
}

bool ZorvaneClient::handle_sync_reply(const std::string& body, boost::system::error_code& error,
                                      bool& record_untouched) {
    record_untouched = false;
    error = make_error_code(ZORVANE_INVALID_PROTOCOL);
    const boost::system::error_code success;
    xml_node_t document;
    std::string data_part;
    if (!open_reply(body, document, data_part)) {
        m_action = ACTION_IDLE;
        log_sync(kLogSyncFailed);
        record_untouched = !m_local_changes;
        return true;
    }
    const xml_node_t& response = *document.find_path(el::kResponsePath);
    const Core_Common::service_error_t result = read_server_result(response);
    if (result.is_error()) {
        if (result.code == Core_Common::SERVICE_POLICY) {
            error = success;
            m_last_error = success;
            m_action = ACTION_IDLE;
            record_untouched = !m_local_changes;
            return true;
        }
        if (result.code == Core_Common::SERVICE_NO_RECORD) {
            m_last_sync.tree = zorvane_node_t();
            m_last_sync.version = 0;
            m_last_sync.date.clear();
            error = success;
            m_last_error = success;
            m_action = ACTION_IDLE;
            m_submit_client_type.clear();
            return true;
        }
        error = client_error_from_service(result);
        m_action = ACTION_IDLE;
        log_sync(kLogSyncFailed);
        record_untouched = !m_local_changes;
        return true;
    }

    if (const xml_node_t* update = response.find_child(el::kUpdate)) {
        std::int32_t version = 0;
        if (update->get_child(el::kBookmarkVersion, version)) {
            std::string date;
            update->get_child(el::kBookmarkDate, date);
            update->get_child(el::kSubmitClientType, m_submit_client_type);
            m_last_sync.version = version;
            m_last_sync.date = std::move(date);
            error = success;
            m_last_error = success;
            m_action = ACTION_IDLE;
            m_last_sync.tree = tree_of(data_part);
            return true;
        }
    } else if (const xml_node_t* commit = response.find_child(el::kCommit)) {
        std::int32_t baseline = 0;
        if (commit->get_child(el::kBaseline, baseline)) {
            sync_record_t server;
            server.version = baseline;
            commit->get_child(el::kBookmarkDate, server.date);
            const Core_Common::service_error_t commit_result = read_server_result(*commit);
            if (commit_result.code == Core_Common::SERVICE_OK) {
                server.tree = tree_of(data_part);
                error = success;
                commit->get_child(el::kSubmitClientType, m_submit_client_type);
                m_last_error = success;
                m_action = ACTION_IDLE;
                m_last_sync = std::move(server);
                m_local_changes = false;
                return true;
            }
            if (commit_result.code == Core_Common::SERVICE_INVALID_VERSION) {
                server.tree = tree_of(data_part);
                error = success;
                const bool changed = tree_present(m_last_sync.tree) ? has_changes(server)
                                                                    : combine_without_base(server);
                if (!changed) {
                    m_last_error = success;
                    m_action = ACTION_IDLE;
                    m_last_sync = std::move(server);
                    m_local_changes = false;
                    return true;
                }
                // The merged tree goes to the server again, based on its version.
                send_commit_request(static_cast<std::uint32_t>(baseline));
                return false;
            }
            error = client_error_from_service(commit_result);
        }
    } else {
        // A successful reply with neither a newer tree nor a commit answer:
        // the server has nothing newer than the record (the answer to the
        // update a sync without changes sends). That is a finished sync, not
        // a failure.
        error = success;
        m_last_error = success;
        m_action = ACTION_IDLE;
        m_account.verified = true;
        record_untouched = !m_local_changes;
        return true;
    }
    // An answer without what it needs changed nothing either.
    m_action = ACTION_IDLE;
    log_sync(kLogSyncFailed);
    record_untouched = !m_local_changes;
    return true;
}

bool ZorvaneClient::combine_without_base(const sync_record_t& server) {
    if (!tree_present(server.tree)) return true;
    Core_ZorvaneMerge::merge_input input;
    input.remote = server.tree;
    input.base = zorvane_node_t(server.tree.type, server.tree.guid);
    input.base.title = server.tree.title;
    input.local = m_current_tree;
    input.skip_deletes = true;
    Core_ZorvaneMerge::merge_trees(input, m_current_tree);
    return !Core_ZorvaneMerge::trees_equal(m_current_tree, server.tree);
}

void ZorvaneClient::handle_overwrite_reply(const std::string& body,
                                           boost::system::error_code& error) {
    error = make_error_code(ZORVANE_INVALID_PROTOCOL);
    xml_node_t document;
    std::string data_part;
    if (open_reply(body, document, data_part)) {
        const xml_node_t& response = *document.find_path(el::kResponsePath);
        const Core_Common::service_error_t result = read_server_result(response);
        if (result.is_error()) {
            error = client_error_from_service(result);
        } else if (const xml_node_t* commit = response.find_child(el::kCommit)) {
            std::int32_t baseline = 0;
            if (commit->get_child(el::kBaseline, baseline)) {
                std::string date;
                commit->get_child(el::kBookmarkDate, date);
                m_last_error = boost::system::error_code();
                m_action = ACTION_IDLE;
                m_last_sync.tree = tree_of(data_part);
                m_last_sync.version = baseline;
                m_last_sync.date = std::move(date);
                error = boost::system::error_code();
                log_sync(kLogOverwriteVersion + std::to_string(baseline));
                save_sync_record();
                return;
            }
        }
    }
    m_action = ACTION_IDLE;
    log_sync(kLogOverwriteFailed);
}

}  // namespace Core_ZorvaneClient
