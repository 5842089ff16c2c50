#include "sync_client/zorvane_client.h"

#include "bookmarks/merge.h"
#include "bookmarks/tree_compare.h"
#include "bookmarks/tree_xml.h"
#include "common/log_dispatcher.h"
#include "common/service_error.h"
#include "common/size_limits.h"
#include "platform/strings.h"
#include "sync_client/client_settings.h"
#include "sync_client/client_type.h"
#include "sync_client/completion_callbacks.h"
#include "sync_client/local_store.h"
#include "sync_client/sync_messages.h"
#include "sync_client/sync_payload.h"
#include "sync_client/zorvane_error.h"
#include "sync_client/zorvane_log.h"

namespace Core_ZorvaneClient {
namespace {

using Core_ZorvaneMerge::zorvane_node_t;

// The callbacks are copied before the call, and so are the arguments: a
// callback may register other callbacks or start another action.
void notify_update(boost::system::error_code error) {
    if (update_done_t callback = update_done()) callback(error);
}

void notify_overwrite(boost::system::error_code error) {
    if (overwrite_done_t callback = overwrite_done()) callback(error);
}

zorvane_node_t parse_tree(std::string_view document) {
    zorvane_node_t tree;
    Core_ZorvaneMerge::read_tree(document, tree);
    return tree;
}

}  // namespace

ZorvaneClient::ZorvaneClient() {
    Core_Common::add_service_name(Core_Common::SERVICE_INVALID_VERSION, "INVALID_VERSION");
}

ZorvaneClient::~ZorvaneClient() = default;

void ZorvaneClient::reset() {
    cancel();
    m_action = ACTION_IDLE;
}

void ZorvaneClient::set_user(const std::u16string& user_name, const std::u16string& password,
                             std::int32_t profile_id) {
    reset();
    m_account.user_name = user_name;
    m_account.password = password;
    m_account.verified = false;
    m_local_changes = false;
    m_account.profile_id = profile_id;
    m_last_sync = sync_record_t{};
    m_record_stamp.reset();
    m_submit_client_type.clear();
    if (Core_Common::log_enabled()) {
        log_sync(kLogSetUser + Core_Platform::wide_to_ansi(user_name) + kLogProfileId +
                 std::to_string(profile_id));
    }
    load_sync_record();
}

void ZorvaneClient::forget_user() {
    reset();
    m_account.verified = false;
    m_last_sync = sync_record_t{};
    m_record_stamp.reset();
    m_local_changes = false;
    m_account.profile_id = 0;
    m_submit_client_type.clear();
    delete_sync_record();
}

void ZorvaneClient::start_update(bool force) {
    if (!force && !(m_last_sync.version == -1 && !m_account.user_name.empty())) return;
    if (m_action == ACTION_SYNCING) {
        log_sync(kLogCommitRunning);
        return;
    }
    if (m_action == ACTION_OVERWRITING) {
        log_sync(kLogOverwriteRunning);
        return;
    }
    reset();
    log_sync(kLogStartUpdate);
    m_action = ACTION_UPDATING;
    send_update_request();
}

bool ZorvaneClient::accept_user(zorvane_node_t&& tree) {
    if (m_account.user_name.empty() || !m_account.verified) {
        m_last_error = make_error_code(ZORVANE_NOT_LOGGED_IN);
        return false;
    }
    m_current_tree = std::move(tree);
    return true;
}

void ZorvaneClient::start_sync(std::string_view tree) {
    // Without a verified user the document is not read at all.
    if (m_account.user_name.empty() || !m_account.verified) {
        m_last_error = make_error_code(ZORVANE_NOT_LOGGED_IN);
        return;
    }
    start_sync(parse_tree(tree));
}

void ZorvaneClient::start_sync(zorvane_node_t tree) {
    if (!accept_user(std::move(tree))) return;
    m_sync_input_tree = m_current_tree;
    if (!tree_present(m_current_tree)) {
        log_sync(kLogSyncInvalid);
        m_last_error = make_error_code(ZORVANE_INVALID_BOOKMARK);
        return;
    }
    m_last_error = boost::system::error_code();
    reset();
    log_sync(kLogStartSyncRequest);
    m_action = ACTION_SYNCING;
    log_sync(kLogStartSync);
    if (!m_local_changes && !has_changes(m_last_sync)) {
        send_update_request();
        return;
    }
    send_commit_request(
        m_last_sync.version == -1 ? 0u : static_cast<std::uint32_t>(m_last_sync.version));
}

void ZorvaneClient::start_overwrite(std::string_view tree) {
    if (m_account.user_name.empty() || !m_account.verified) {
        m_last_error = make_error_code(ZORVANE_NOT_LOGGED_IN);
        return;
    }
    start_overwrite(parse_tree(tree));
}

void ZorvaneClient::start_overwrite(zorvane_node_t tree) {
    if (!accept_user(std::move(tree))) return;
    if (!tree_present(m_current_tree)) {
        log_sync(kLogOverwriteInvalid);
        m_last_error = make_error_code(ZORVANE_INVALID_BOOKMARK);
        return;
    }
    m_last_error = boost::system::error_code();
    reset();
    log_sync(kLogStartOverwriteRequest);
    m_action = ACTION_OVERWRITING;
    log_sync(kLogStartOverwrite);
    send_overwrite_request();
}

std::int32_t ZorvaneClient::status() const {
    return (m_action >= ACTION_UPDATING && m_action <= ACTION_OVERWRITING) ? m_action : ACTION_IDLE;
}

sync_record_t ZorvaneClient::sync_input_record() const {
    sync_record_t record;
    record.tree = m_sync_input_tree;
    return record;
}

bool ZorvaneClient::has_changes(const sync_record_t& record) {
    if (!tree_present(m_last_sync.tree) || !tree_present(record.tree)) return true;
    // The handed tree is the record's and the record is what the server
    // holds: nothing changed, and there is nothing to merge (a sync without
    // changes is the common case, and a merge of tens of thousands of
    // bookmarks is a good part of its time). A tree that repeats an
    // identifier in copies that differ is taken as it stands too, rather
    // than merged into copies that agree and committed for that alone.
    if (Core_ZorvaneMerge::trees_equal(m_current_tree, m_last_sync.tree) &&
        (&record == &m_last_sync ||
         Core_ZorvaneMerge::trees_equal(record.tree, m_last_sync.tree))) {
        return false;
    }
    // The merge only reads its input, so the client's trees move into it and
    // back out instead of being copied (a tree of tens of thousands of
    // bookmarks is tens of megabytes); the remote tree is copied when it is
    // the base itself. The result replaces the current tree.
    Core_ZorvaneMerge::merge_input input;
    input.remote = record.tree;
    input.base = std::move(m_last_sync.tree);
    input.local = std::move(m_current_tree);
    input.skip_deletes = false;
    struct restore_t {
        Core_ZorvaneMerge::merge_input& input;
        zorvane_node_t& base;
        zorvane_node_t& current;
        bool merged = false;
        ~restore_t() {
            base = std::move(input.base);
            if (!merged) current = std::move(input.local);
        }
    } restore{input, m_last_sync.tree, m_current_tree};
    Core_ZorvaneMerge::merge_trees(input, m_current_tree);
    restore.merged = true;
    return !Core_ZorvaneMerge::trees_equal(m_current_tree, input.remote);
}

void ZorvaneClient::merge_browser_tree(std::string_view tree) {
    merge_browser_tree(parse_tree(tree));
}

void ZorvaneClient::merge_browser_tree(zorvane_node_t browser) {
    m_record_stamp.reset();
    if (!tree_present(m_last_sync.tree)) {
        m_last_sync.tree = std::move(browser);
        return;
    }
    if (!tree_present(browser)) return;
    Core_ZorvaneMerge::merge_input input;
    input.remote = m_last_sync.tree;
    input.local = std::move(browser);
    input.skip_deletes = true;
    zorvane_node_t merged;
    {
        // The stored tree is the base, moved in and back rather than copied.
        input.base = std::move(m_last_sync.tree);
        struct restore_t {
            zorvane_node_t& from;
            zorvane_node_t& to;
            ~restore_t() { to = std::move(from); }
        } restore{input.base, m_last_sync.tree};
        Core_ZorvaneMerge::merge_trees(input, merged);
    }
    if (!Core_ZorvaneMerge::trees_equal(merged, m_last_sync.tree)) m_local_changes = true;
    m_last_sync.tree = std::move(merged);
}

void ZorvaneClient::import_foreign_tree(std::string_view tree) {
    m_record_stamp.reset();
    if (!tree_present(m_last_sync.tree)) return;
    zorvane_node_t browser = parse_tree(tree);
    if (!tree_present(browser)) return;
    zorvane_node_t imported;
    if (m_submit_client_type != "FIREFOX" && m_submit_client_type != "WEB") {
        Core_ZorvaneMerge::adopt_input input;
        input.client_type = m_submit_client_type;
        input.incoming = m_last_sync.tree;
        input.local = std::move(browser);
        Core_ZorvaneMerge::adopt_incoming(input, imported);
    } else {
        imported = m_last_sync.tree;
    }
    if (!Core_ZorvaneMerge::trees_equal(imported, m_last_sync.tree)) m_local_changes = true;
    m_last_sync.tree = std::move(imported);
}

bool ZorvaneClient::roots_unchanged(std::string_view tree) const {
    if (!tree_present(m_last_sync.tree)) return false;
    const zorvane_node_t browser = parse_tree(tree);
    if (!tree_present(browser)) return false;
    for (std::string_view guid : {Core_ZorvaneMerge::kToolbarGuid, Core_ZorvaneMerge::kMenuGuid,
                                  Core_ZorvaneMerge::kUnfiledGuid}) {
        const zorvane_node_t* stored = Core_ZorvaneMerge::find_child(m_last_sync.tree, guid);
        const zorvane_node_t* handed = Core_ZorvaneMerge::find_child(browser, guid);
        if ((stored == nullptr) != (handed == nullptr)) return false;
        if (stored != nullptr && !Core_ZorvaneMerge::trees_equal(*stored, *handed)) return false;
    }
    return true;
}

// ---- Local store ----

bool ZorvaneClient::load_sync_record() {
    // The stamp is taken before reading: a file replaced while it is read
    // then no longer matches it, and the next save writes it again.
    Core_Common::file_stamp_t stamp;
    const bool stamped =
        Core_Common::file_stamp(store_path(data_directory(), kSyncRecordFileName), stamp);
    sync_record_t record;
    std::string client_type;
    if (load_record_file(data_directory(), m_account, record, client_type) != RECORD_LOADED) {
        return false;
    }
    m_record_stamp.reset();
    if (stamped) m_record_stamp = stamp;
    m_last_sync = std::move(record);
    m_account.verified = true;
    m_submit_client_type = std::move(client_type);
    return true;
}

bool ZorvaneClient::save_sync_record() {
    m_record_stamp.reset();
    if (!save_record_file(data_directory(), m_account, m_last_sync, m_submit_client_type)) {
        return false;
    }
    Core_Common::file_stamp_t stamp;
    if (Core_Common::file_stamp(store_path(data_directory(), kSyncRecordFileName), stamp)) {
        m_record_stamp = stamp;
    }
    return true;
}

bool ZorvaneClient::record_file_current() const {
    if (!m_record_stamp) return false;
    Core_Common::file_stamp_t now;
    return Core_Common::file_stamp(store_path(data_directory(), kSyncRecordFileName), now) &&
           now == *m_record_stamp;
}

void ZorvaneClient::delete_sync_record() {
    m_record_stamp.reset();
    delete_record_file(data_directory());
}

std::string ZorvaneClient::load_notes() const {
    return load_notes_file(data_directory(), m_account.user_name);
}

void ZorvaneClient::save_notes(const std::string& notes) const {
    save_notes_file(data_directory(), m_account.user_name, notes);
}

void ZorvaneClient::delete_notes() const { delete_notes_file(data_directory()); }

std::string ZorvaneClient::peer_id() const { return peer_id_in(data_directory()); }

// ---- Requests ----

void ZorvaneClient::send_update_request() {
    send_packed(update_request_document(m_account, peer_id(), m_last_sync.version), nullptr);
}

void ZorvaneClient::send_commit_request(std::uint32_t baseline) {
    send_packed(commit_request_document(m_account, peer_id(), client_type_name(), baseline),
                &m_current_tree);
}

void ZorvaneClient::send_overwrite_request() {
    send_packed(overwrite_request_document(m_account, peer_id(), client_type_name()),
                &m_current_tree);
}

void ZorvaneClient::send_packed(const std::string& xml_part,
                                const Core_ZorvaneMerge::zorvane_node_t* tree) {
    // The tree's document is written straight into the packer; past the
    // limit nothing more is packed, and the request is refused below.
    std::string body;
    std::size_t packed_size = 0;
    std::size_t tree_size = 0;
    const bool packed = pack_message(
        xml_part,
        [&](const std::function<void(std::string_view)>& put) {
            if (tree == nullptr) return;
            Core_ZorvaneMerge::write_tree(*tree, [&](std::string_view piece) {
                tree_size += piece.size();
                if (tree_size <= Core_Common::max_tree_bytes) put(piece);
            });
        },
        body, packed_size);
    if (tree_size > Core_Common::max_tree_bytes ||
        xml_part.size() > Core_Common::max_message_document_bytes) {
        log_sync(kLogTreeTooLarge + std::to_string(tree_size));
        fail_action(make_error_code(ZORVANE_TREE_TOO_LARGE));
        return;
    }
    if (!packed) {
        // Nothing sensible can be sent; the action ends as a failed request.
        on_error(Core_Common::service_error_t{Core_Common::SERVICE_EXCEPTION, u""},
                 boost::system::error_code());
        return;
    }
    send(std::move(body), 0, 0, std::string());
}

// ---- Session client ----

void ZorvaneClient::notify_sync(boost::system::error_code error) const {
    if (sync_done_t callback = sync_done()) {
        const zorvane_node_t handed_over = m_sync_input_tree;
        callback(error, handed_over);
    }
}

void ZorvaneClient::on_reply(const Core_Common::soap_client_received_t& received) {
    switch (m_action) {
        case ACTION_UPDATING: {
            m_last_error = boost::system::error_code();
            m_action = ACTION_IDLE;
            handle_update_reply(received.m_body, m_last_error);
            notify_update(m_last_error);
            if (m_account.verified) save_sync_record();
            return;
        }
        case ACTION_SYNCING: {
            boost::system::error_code error;
            bool record_untouched = false;
            if (handle_sync_reply(received.m_body, error, record_untouched)) {
                // A sync that changed nothing (or failed) leaves the record
                // file alone (rewriting tens of megabytes for nothing),
                // unless the file is no longer the one this record was read
                // from or written to.
                if (!record_untouched || !record_file_current()) save_sync_record();
                notify_sync(error);
            }
            return;
        }
        case ACTION_OVERWRITING: {
            boost::system::error_code error;
            handle_overwrite_reply(received.m_body, error);
            notify_overwrite(error);
            return;
        }
        default:
            return;
    }
}

void ZorvaneClient::on_error(const Core_Common::service_error_t& /*error*/,
                             const boost::system::error_code& /*ec*/) {
    fail_action(make_error_code(ZORVANE_TRANSPORT_FAILED));
}

void ZorvaneClient::fail_action(const boost::system::error_code& error) {
    const std::int32_t action = m_action;
    switch (action) {
        case ACTION_UPDATING:
        case ACTION_SYNCING:
        case ACTION_OVERWRITING:
            m_action = ACTION_IDLE;
            m_last_error = error;
            break;
        default:
            log_sync(kLogUnknownAction);
            m_last_error = make_error_code(ZORVANE_SERVER_EXCEPTION);
            return;
    }
    if (action == ACTION_UPDATING) {
        log_sync(kLogUpdateFailed);
        notify_update(m_last_error);
    } else if (action == ACTION_SYNCING) {
        log_sync(kLogSyncFailed);
        notify_sync(m_last_error);
    } else {
        log_sync(kLogOverwriteFailed);
        notify_overwrite(m_last_error);
    }
}

}  // namespace Core_ZorvaneClient
