#include "sync_client/zorvane_client.h"

#include "bookmarks/merge.h"
#include "bookmarks/tree_compare.h"
#include "bookmarks/tree_xml.h"
#include "common/log_dispatcher.h"
#include "common/main_thread.h"
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

ZorvaneClient::~ZorvaneClient() { settle_record_ahead(); }

record_content_ptr ZorvaneClient::settle_record_ahead() {
    if (!m_record_ahead.valid()) return nullptr;
    try {
        return m_record_ahead.get();
    } catch (const std::exception&) {
        // Out of memory on its thread: the record is packed whole instead.
        return nullptr;
    }
}

void ZorvaneClient::reset() {
    Core_Common::expect_main_thread();
    settle_record_ahead();
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
    drop_local_tree();
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
    drop_local_tree();
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

bool ZorvaneClient::accept_tree(const zorvane_node_t& tree, const char* invalid_message) {
    Core_Common::expect_main_thread();
    if (m_account.user_name.empty() || !m_account.verified) {
        m_last_error = make_error_code(ZORVANE_NOT_LOGGED_IN);
        return false;
    }
    // A refused tree changes nothing: not the tree of a sync in flight, which
    // a later "INVALID_VERSION" would merge, nor the tree handed over last.
    if (!tree_present(tree)) {
        log_sync(invalid_message);
        m_last_error = make_error_code(ZORVANE_INVALID_BOOKMARK);
        return false;
    }
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

void ZorvaneClient::start_sync(zorvane_node_t tree) { start_sync(std::move(tree), false); }

void ZorvaneClient::start_sync_of_working_tree() {
    if (m_account.user_name.empty() || !m_account.verified) {
        m_last_error = make_error_code(ZORVANE_NOT_LOGGED_IN);
        return;
    }
    start_sync(working_tree(), true);
}

void ZorvaneClient::start_sync(zorvane_node_t tree, bool working_copy) {
    if (!accept_tree(tree, kLogSyncInvalid)) return;
    // A copy of the working tree when that is the record's own tree.
    const bool record_copy = working_copy && !m_working_is_input && !tree_present(m_local_tree);
    m_last_error = boost::system::error_code();
    reset();
    log_sync(kLogStartSyncRequest);
    m_action = ACTION_SYNCING;
    log_sync(kLogStartSync);
    // The tree handed over last is about to be replaced: when it stood for
    // the working tree, the working tree takes it over.
    if (m_working_is_input) set_local_tree(std::move(m_sync_input_tree));
    m_commit_rounds = 0;
    m_account_emptied = false;
    m_handed_record_tree = tree_present(m_last_sync.tree) &&
                           (record_copy || Core_ZorvaneMerge::trees_equal(tree, m_last_sync.tree));
    // The browser may not hold what the working tree holds (what was merged
    // in, or the account's tree it has not confirmed yet): what it lacks is
    // kept, not deleted.
    bool fold = false;
    if (m_local_changes && tree_present(working_tree())) {
        fold = !working_copy && !Core_ZorvaneMerge::trees_equal(tree, working_tree());
        if (!fold && tree_present(m_local_tree)) {
            // Handed the working tree itself (the usual first sync): the
            // copy handed over stands for it, one tree fewer in memory.
            m_local_tree = zorvane_node_t();
            m_working_is_input = true;
        }
    }
    if (fold) {
        // The handed tree goes into the merge and comes back out as the
        // handed-over copy, without a copy of its own.
        merge_without_deletions(tree, m_current_tree);
        m_sync_input_tree = std::move(tree);
    } else if (m_handed_record_tree) {
        // The record's own tree handed back (the usual sync with nothing
        // changed): an update goes out below, which needs no current tree;
        // should the server hold none after all, the commit that follows
        // takes the handed-over tree (send_commit_request). One copy of a
        // tree that may be over a hundred megabytes fewer.
        m_sync_input_tree = std::move(tree);
        m_current_tree = zorvane_node_t();
    } else {
        // No copy for the current tree yet: while it is empty it stands for
        // the handed-over tree (has_changes merges that one in place, a
        // commit copies it as it goes out).
        m_sync_input_tree = std::move(tree);
        m_current_tree = zorvane_node_t();
    }
    const bool folded = fold;
    bool unchanged;
    if (m_local_changes) {
        // What waits to be committed goes as it is: no three-way merge with
        // the record on both remote and base sides (for a first sync of tens
        // of thousands of bookmarks that is most of a second).
        unchanged = folded ? tree_present(m_last_sync.tree) &&
                                 Core_ZorvaneMerge::trees_equal(m_current_tree, m_last_sync.tree)
                           : m_handed_record_tree;
    } else {
        // The record's own tree has no changes; the comparison is not made
        // twice.
        unchanged = m_handed_record_tree || !has_changes(m_last_sync);
    }
    if (unchanged) {
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
    if (!accept_tree(tree, kLogOverwriteInvalid)) return;
    m_last_error = boost::system::error_code();
    reset();
    log_sync(kLogStartOverwriteRequest);
    m_action = ACTION_OVERWRITING;
    log_sync(kLogStartOverwrite);
    m_current_tree = std::move(tree);
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
    // An empty current tree stands for the handed-over one.
    const bool input_is_current = !tree_present(m_current_tree);
    zorvane_node_t& current = input_is_current ? m_sync_input_tree : m_current_tree;
    if (Core_ZorvaneMerge::trees_equal(current, m_last_sync.tree) &&
        (&record == &m_last_sync ||
         Core_ZorvaneMerge::trees_equal(record.tree, m_last_sync.tree))) {
        return false;
    }
    // The merge only reads its input, so the client's trees move into it and
    // back out instead of being copied (a tree of tens of thousands of
    // bookmarks is tens of megabytes); a remote tree that is the base itself
    // is not copied either. The result replaces the current tree; the
    // handed-over tree, when it was the local side, goes back where it was.
    Core_ZorvaneMerge::merge_input input;
    input.remote_is_base = &record == &m_last_sync;
    if (!input.remote_is_base) input.remote = record.tree;
    input.base = std::move(m_last_sync.tree);
    input.local = std::move(current);
    input.skip_deletes = false;
    struct restore_t {
        Core_ZorvaneMerge::merge_input& input;
        zorvane_node_t& base;
        zorvane_node_t& local;
        // Until the merge is done, the local side goes back should it
        // throw; after it, only the handed-over tree does.
        bool keep_local;
        ~restore_t() {
            base = std::move(input.base);
            if (keep_local) local = std::move(input.local);
        }
    } restore{input, m_last_sync.tree, current, true};
    Core_ZorvaneMerge::merge_trees(input, m_current_tree);
    restore.keep_local = input_is_current;
    return !Core_ZorvaneMerge::trees_equal(m_current_tree, input.remote_tree());
}

void ZorvaneClient::merge_browser_tree(std::string_view tree) {
    merge_browser_tree(parse_tree(tree));
}

const zorvane_node_t& ZorvaneClient::working_tree() const {
    if (m_working_is_input) return m_sync_input_tree;
    return tree_present(m_local_tree) ? m_local_tree : m_last_sync.tree;
}

void ZorvaneClient::set_local_tree(zorvane_node_t tree) {
    m_local_tree = std::move(tree);
    m_working_is_input = false;
}

void ZorvaneClient::drop_local_tree() {
    m_local_tree = zorvane_node_t();
    m_working_is_input = false;
}

void ZorvaneClient::set_local_changes(bool pending) {
    if (pending != m_local_changes) m_record_stamp.reset();
    m_local_changes = pending;
}

void ZorvaneClient::adopt_record(sync_record_t record) {
    m_last_sync = std::move(record);
    m_record_stamp.reset();
}

void ZorvaneClient::merge_without_deletions(zorvane_node_t& local, zorvane_node_t& out) {
    // The merge only reads its input: the working tree is its base and its
    // remote side, and `local` its local side, moved in and back rather than
    // copied (a large tree is tens of megabytes).
    zorvane_node_t& working = m_working_is_input           ? m_sync_input_tree
                              : tree_present(m_local_tree) ? m_local_tree
                                                           : m_last_sync.tree;
    Core_ZorvaneMerge::merge_input input;
    input.remote_is_base = true;
    input.local = std::move(local);
    input.skip_deletes = true;
    input.base = std::move(working);
    struct restore_t {
        Core_ZorvaneMerge::merge_input& input;
        zorvane_node_t& base;
        zorvane_node_t& local;
        ~restore_t() {
            base = std::move(input.base);
            local = std::move(input.local);
        }
    } restore{input, working, local};
    Core_ZorvaneMerge::merge_trees(input, out);
}

void ZorvaneClient::merge_browser_tree(zorvane_node_t browser) {
    Core_Common::expect_main_thread();
    if (!tree_present(browser)) return;
    if (!tree_present(working_tree())) {
        set_local_tree(std::move(browser));
        set_local_changes(true);
        return;
    }
    zorvane_node_t merged;
    merge_without_deletions(browser, merged);
    const zorvane_node_t& working = working_tree();
    if (Core_ZorvaneMerge::trees_equal(merged, working)) return;
    // What was merged in is a local change: the record stays the base of
    // later merges, so a commit that meets "INVALID_VERSION" or fails keeps
    // these bookmarks as additions rather than taking them as deleted.
    set_local_tree(std::move(merged));
    set_local_changes(true);
}

void ZorvaneClient::import_foreign_tree(std::string_view tree) {
    Core_Common::expect_main_thread();
    const zorvane_node_t& working = working_tree();
    if (!tree_present(working)) return;
    zorvane_node_t browser = parse_tree(tree);
    if (!tree_present(browser)) return;
    if (m_submit_client_type == "FIREFOX" || m_submit_client_type == "WEB") return;
    zorvane_node_t imported;
    Core_ZorvaneMerge::adopt_input input;
    input.client_type = m_submit_client_type;
    input.incoming = working;
    input.local = std::move(browser);
    Core_ZorvaneMerge::adopt_incoming(input, imported);
    if (Core_ZorvaneMerge::trees_equal(imported, working)) return;
    set_local_tree(std::move(imported));
    set_local_changes(true);
}

bool ZorvaneClient::roots_unchanged(std::string_view tree) const {
    const zorvane_node_t& working = working_tree();
    if (!tree_present(working)) return false;
    const zorvane_node_t browser = parse_tree(tree);
    if (!tree_present(browser)) return false;
    for (std::string_view guid : {Core_ZorvaneMerge::kToolbarGuid, Core_ZorvaneMerge::kMenuGuid,
                                  Core_ZorvaneMerge::kUnfiledGuid}) {
        const zorvane_node_t* stored = Core_ZorvaneMerge::find_child(working, guid);
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
    bool local_changes = false;
    if (load_record_file(data_directory(), m_account, record, client_type, &local_changes) !=
        RECORD_LOADED) {
        return false;
    }
    m_record_stamp.reset();
    if (stamped) m_record_stamp = stamp;
    m_last_sync = std::move(record);
    m_account.verified = true;
    m_submit_client_type = std::move(client_type);
    // What was merged in before is in the browser's tree, or was given to
    // it; the pending state alone says to merge without deleting.
    drop_local_tree();
    m_local_changes = local_changes;
    return true;
}

bool ZorvaneClient::save_sync_record(record_content_ptr content) {
    m_record_stamp.reset();
    if (!save_record_file(data_directory(), m_account, m_last_sync, m_submit_client_type,
                          m_local_changes, std::move(content))) {
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
    m_transport_failure = Core_Common::service_error_t();
    m_transport_error = boost::system::error_code();
    m_sync_commit = false;
    send_packed(update_request_document(m_account, peer_id(), m_last_sync.version), nullptr);
}

void ZorvaneClient::send_commit_request(std::uint32_t baseline) {
    m_transport_failure = Core_Common::service_error_t();
    m_transport_error = boost::system::error_code();
    m_sync_commit = true;
    ++m_commit_rounds;
    // A sync that went out as an update with the record's own tree kept no
    // current tree: the tree to commit is the one handed over.
    if (!tree_present(m_current_tree)) m_current_tree = m_sync_input_tree;
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
    m_sent_tree_fingerprint.reset();
    Core_Common::fingerprint_t fingerprint(Core_Common::fingerprint_t::process_key());
    const bool packed = pack_message(
        xml_part,
        [&](const std::function<void(std::string_view)>& put) {
            if (tree == nullptr) return;
            Core_ZorvaneMerge::write_tree(*tree, [&](std::string_view piece) {
                tree_size += piece.size();
                if (tree_size > Core_Common::max_tree_bytes) return;
                fingerprint.add(piece);
                put(piece);
            });
        },
        body, packed_size);
    if (tree != nullptr) m_sent_tree_fingerprint = fingerprint.finish();
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
    // A sync's commit stores this tree when its reply echoes it: its record
    // content is packed meanwhile.
    if (tree != nullptr && m_action == ACTION_SYNCING) {
        settle_record_ahead();
        try {
            m_record_ahead = std::async(std::launch::async,
                                        [tree] { return pack_record_content(*tree, false); });
        } catch (const std::system_error&) {
            // No thread to be had: the record is packed when it is saved.
        }
    }
}

// ---- Session client ----

void ZorvaneClient::notify_sync(boost::system::error_code error) const {
    // The handed-over tree itself, not a copy (a large one is over a hundred
    // megabytes): the callback must not call the client before it is done
    // with it.
    if (sync_done_t callback = sync_done()) callback(error, m_sync_input_tree);
}

void ZorvaneClient::on_reply(const Core_Common::soap_client_received_t& received) {
    Core_Common::expect_main_thread();
    record_content_ptr ahead = settle_record_ahead();
    m_kept_sent_tree = false;
    switch (m_action) {
        case ACTION_UPDATING: {
            m_last_error = boost::system::error_code();
            m_action = ACTION_IDLE;
            handle_update_reply(received.m_body, m_last_error);
            notify_update(m_last_error);
            if (m_account.verified && !record_file_current()) save_sync_record();
            return;
        }
        case ACTION_SYNCING: {
            boost::system::error_code error;
            if (handle_sync_reply(received.m_body, error)) {
                // The file is written when the record or the pending local
                // changes changed, or when it is no longer the one they were
                // read from or written to; a sync that changed nothing (or
                // failed) leaves it alone (rewriting tens of megabytes for
                // nothing).
                // The content packed ahead is the stored tree's when the
                // reply echoed the tree sent.
                if (!record_file_current()) {
                    save_sync_record(m_kept_sent_tree ? std::move(ahead) : nullptr);
                }
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

void ZorvaneClient::on_error(const Core_Common::service_error_t& error,
                             const boost::system::error_code& ec) {
    Core_Common::expect_main_thread();
    settle_record_ahead();
    m_transport_failure = error;
    m_transport_error = ec;
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
        // Local changes that wait for a commit are kept in the record file.
        if (m_local_changes && !record_file_current()) save_sync_record();
        notify_sync(m_last_error);
    } else {
        log_sync(kLogOverwriteFailed);
        notify_overwrite(m_last_error);
    }
}

}  // namespace Core_ZorvaneClient
