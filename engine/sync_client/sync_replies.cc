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
            sync_record_t server;
            // A newer version without a tree that reads is nothing to adopt.
            if (update->get_child(el::kBookmarkVersion, version) &&
                tree_present(server.tree = tree_of(data_part))) {
                update->get_child(el::kSubmitClientType, m_submit_client_type);
                server.version = version;
                update->get_child(el::kBookmarkDate, server.date);
                // The browser has not confirmed a tree brought in where there
                // was none: until it does, its syncs delete nothing.
                if (!tree_present(m_last_sync.tree)) set_local_changes(true);
                adopt_record(std::move(server));
                error = boost::system::error_code();
                log_sync(kLogUpdateVersion + std::to_string(version));
                m_account.verified = true;
                return;
            }
        }
    }
    m_action = ACTION_IDLE;
    log_sync(kLogUpdateFailed);
}

void ZorvaneClient::finish_sync(sync_record_t server, bool committed) {
    // The action ends: the tree it sent is not needed any more.
    if (committed && !tree_present(server.tree)) server.tree = std::move(m_current_tree);
    adopt_record(std::move(server));
    if (committed || m_handed_record_tree) {
        drop_local_tree();
        set_local_changes(false);
    }
    m_last_error = boost::system::error_code();
    m_action = ACTION_IDLE;
}

bool ZorvaneClient::handle_sync_reply(const std::string& body, boost::system::error_code& error) {
    error = make_error_code(ZORVANE_INVALID_PROTOCOL);
    const boost::system::error_code success;
    auto fail = [&] {
        m_action = ACTION_IDLE;
        log_sync(kLogSyncFailed);
        return true;
    };
    xml_node_t document;
    std::string data_part;
    if (!open_reply(body, document, data_part)) return fail();
    const xml_node_t& response = *document.find_path(el::kResponsePath);
    const Core_Common::service_error_t result = read_server_result(response);
    if (result.is_error()) {
        if (result.code == Core_Common::SERVICE_NO_RECORD) {
            // The server holds no tree for the account (restored, migrated,
            // created again): the tree is uploaded as a first sync would,
            // and the record is no common base any more. The record stays
            // as it is until the server has stored the upload.
            if (m_commit_rounds >= kMaxCommitRounds) {
                error = make_error_code(ZORVANE_INVALID_VERSION);
                return fail();
            }
            m_account_emptied = true;
            send_commit_request(0);
            return false;
        }
        error = client_error_from_service(result);
        return fail();
    }

    if (!m_sync_commit) {
        // The answer to an update request: a newer tree, or nothing newer.
        if (const xml_node_t* update = response.find_child(el::kUpdate)) {
            sync_record_t server;
            std::int32_t version = 0;
            if (!update->get_child(el::kBookmarkVersion, version) ||
                !tree_present(server.tree = tree_of(data_part))) {
                return fail();
            }
            server.version = version;
            update->get_child(el::kBookmarkDate, server.date);
            update->get_child(el::kSubmitClientType, m_submit_client_type);
            finish_sync(std::move(server), false);
            error = success;
            return true;
        }
        if (response.find_child(el::kCommit) != nullptr) return fail();
        // Nothing newer than the record on the server: the record stays.
        if (m_handed_record_tree) set_local_changes(false);
        m_last_error = success;
        m_action = ACTION_IDLE;
        error = success;
        return true;
    }

    // The answer to a commit says whether the tree was stored; anything else
    // (no "Commit", a newer tree instead, a bare "OK") stored nothing.
    const xml_node_t* commit = response.find_child(el::kCommit);
    std::int32_t baseline = 0;
    if (commit == nullptr || !commit->get_child(el::kBaseline, baseline)) return fail();
    sync_record_t server;
    server.version = baseline;
    commit->get_child(el::kBookmarkDate, server.date);
    const Core_Common::service_error_t commit_result = read_server_result(*commit);
    if (commit_result.code == Core_Common::SERVICE_OK) {
        server.tree = take_stored_tree(data_part);
        commit->get_child(el::kSubmitClientType, m_submit_client_type);
        finish_sync(std::move(server), true);
        error = success;
        return true;
    }
    if (commit_result.code != Core_Common::SERVICE_INVALID_VERSION) {
        error = client_error_from_service(commit_result);
        return fail();
    }
    // "INVALID_VERSION": another client committed first; the data part holds
    // the server's tree. Without it there is nothing to merge with, and
    // committing ours over the newer version would replace it.
    error = make_error_code(ZORVANE_INVALID_VERSION);
    server.tree = tree_of(data_part);
    if (!tree_present(server.tree)) return fail();
    const bool changed = tree_present(m_last_sync.tree) && !m_account_emptied
                             ? has_changes(server)
                             : combine_without_base(server);
    if (!changed) {
        // Everything of ours is in the server's tree already.
        finish_sync(std::move(server), true);
        error = success;
        return true;
    }
    if (m_commit_rounds >= kMaxCommitRounds) return fail();
    // The merged tree goes to the server again, based on its version.
    send_commit_request(static_cast<std::uint32_t>(baseline));
    return false;
}

zorvane_node_t ZorvaneClient::take_stored_tree(const std::string& data_part) {
    if (m_sent_tree_fingerprint && !data_part.empty() &&
        Core_Common::fingerprint_t::of(Core_Common::fingerprint_t::process_key(), data_part.data(),
                                       data_part.size()) == *m_sent_tree_fingerprint) {
        m_sent_tree_fingerprint.reset();
        // The document sent came back. A merged tree keeps the positions its
        // nodes had on their sides; the stored one has them numbered as read.
        Core_ZorvaneMerge::number_as_read(m_current_tree);
        if (Core_ZorvaneMerge::reads_back_as_itself(m_current_tree)) {
            m_kept_sent_tree = true;
            return std::move(m_current_tree);
        }
    }
    return tree_of(data_part);
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
        const xml_node_t* commit = response.find_child(el::kCommit);
        std::int32_t baseline = 0;
        if (result.is_error()) {
            error = client_error_from_service(result);
        } else if (commit != nullptr && commit->get_child(el::kBaseline, baseline)) {
            const Core_Common::service_error_t commit_result = read_server_result(*commit);
            if (commit_result.is_error()) {
                // The commit's own result says the tree was not stored.
                error = client_error_from_service(commit_result);
            } else {
                sync_record_t server;
                server.version = baseline;
                commit->get_child(el::kBookmarkDate, server.date);
                server.tree = take_stored_tree(data_part);
                // The server stored the tree sent when it gives none back.
                if (!tree_present(server.tree)) server.tree = std::move(m_current_tree);
                m_last_error = boost::system::error_code();
                m_action = ACTION_IDLE;
                adopt_record(std::move(server));
                drop_local_tree();
                set_local_changes(false);
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
