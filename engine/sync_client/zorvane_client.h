// Public engine surface: the sync client, the engine's one bookmark
// synchronisation object.
//
// ZorvaneClient holds the signed-in account, the record of the last
// synchronisation, the tree most recently handed over by the host, and the
// current action (0 idle, 1 updating, 2 syncing, 3 overwriting). The host
// sets the user, starts one of three actions, cancels, and compares or
// merges trees; the client sends the action's request through the session
// client it derives from, interprets the reply, updates its record and the
// local store (sync_client/local_store.h), and reports the end of an action
// through the completion callbacks (sync_client/completion_callbacks.h).
//
// The single instance is created and destroyed by the sync-client module
// (sync_client/zorvane_client_module.h) and reached through instance().
// Trees cross this interface as documents of the bookmark tree XML form
// (bookmarks/tree_xml.h), UTF-8.
//
// The record and the local changes: the record (last_sync) is the last tree
// the server and this client agreed on, the base of every merge; it changes
// only when the server says which tree it holds. What merge_browser_tree and
// import_foreign_tree bring in is a local change kept beside it (the working
// tree, what the browser should show) until a commit stores it. While local
// changes are pending (local_changes()), the browser's tree is not known to
// descend from the record's tree, so a sync merges the tree it is handed into
// the working tree without deleting anything. The pending state is kept in
// the record file, so it survives a restart of the host between actions; it
// ends when a commit or an overwrite stores the tree, or when a sync is
// handed exactly the record's tree.
//
// Outcomes: a check that refuses to start an action (no verified user, a
// tree document that does not read) sets last_error(), changes nothing else
// (a running action goes on) and calls no callback. An action reports
// success only when the server said it holds the tree the host is then
// given: a commit answered by anything but a stored "Commit" fails, and so
// does "INVALID_VERSION" without a tree to merge, or after kMaxCommitRounds
// commits of one sync.
// A started action ends in exactly one callback, with the reply's outcome or
// value 10 when the session client failed, unless it is cancelled first
// (reset, set_user, forget_user, or a new sync or overwrite), in which case
// no callback follows. Requests never block: replies arrive inside the
// framework's pump.
//
// Thread rule: main thread only; nothing here is locked.
#pragma once

#include <boost/system/error_code.hpp>
#include <cstdint>
#include <future>
#include <optional>
#include <string>
#include <string_view>

#include "bookmarks/bookmark_node.h"
#include "common/fingerprint.h"
#include "common/whole_file.h"
#include "framework/singleton.h"
#include "session/soap_handler.h"
#include "sync_client/account.h"
#include "sync_client/local_store.h"
#include "sync_client/sync_record.h"

namespace Core_ZorvaneClient {

enum action_enum : std::int32_t {
    ACTION_IDLE = 0,
    ACTION_UPDATING = 1,
    ACTION_SYNCING = 2,
    ACTION_OVERWRITING = 3,
};

class ZorvaneClient : public Core_Common::Singleton<ZorvaneClient>,
                      public Core_SOAPClient::InterfaceSOAPClientSimpleHandler {
public:
    // Idle, no user, no record; adds "INVALID_VERSION" to the service result
    // names.
    ZorvaneClient();
    ~ZorvaneClient() override;

    // ---- Account ----

    // Cancels the current action (no callback), takes the user, clears the
    // verification, the local changes, the record and the stored client
    // type, and then loads the local record: when it belongs to this user
    // and password it becomes the record and the account is verified.
    void set_user(const std::u16string& user_name, const std::u16string& password,
                  std::int32_t profile_id);

    // Cancels the current action, forgets the verification, the record, the
    // local changes, the profile and the stored client type, and deletes the
    // record file. The user name and password stay.
    void forget_user();

    // ---- Actions ----

    // Sends an update request when `force` is set, or when there is no record
    // (version -1) and a user name. Does nothing (besides a log message)
    // while a sync or an overwrite runs; cancels a running update. A tree it
    // brings in where there was none is a local change until the browser
    // confirms it (see above).
    void start_update(bool force);

    // Refuses with 9 without a verified user and with 8 when `tree` does not
    // read. Otherwise cancels any running action, merges the tree into the
    // working tree without deletions when local changes are pending, and
    // sends an update request when the result has no changes against the
    // record, or else a commit of it based on the record's version. After
    // "INVALID_VERSION" the server's tree and the local changes are merged
    // over the record and committed again, at most kMaxCommitRounds commits
    // in all; "NO_RECORD" (the server lost the account's tree) uploads the
    // tree as a first sync would. sync_done follows.
    void start_sync(std::string_view tree);
    // The same for a tree already read from its document (read_tree), so a
    // large document can be let go before the request is built.
    void start_sync(Core_ZorvaneMerge::zorvane_node_t tree);
    // The same for a copy of working_tree(), the tree handed back as it was
    // handed out (the usual sync with nothing changed): what is known equal
    // is not compared again (for a large tree a good part of a second).
    void start_sync_of_working_tree();

    // Refuses as start_sync does; otherwise cancels any running action and
    // sends an overwrite request carrying the tree. overwrite_done follows.
    void start_overwrite(std::string_view tree);
    void start_overwrite(Core_ZorvaneMerge::zorvane_node_t tree);

    // Cancels the current request and becomes idle; no callback follows.
    void reset();

    // ---- Local tree operations ----

    // Merges the browser's tree into the working tree without deletions
    // (takes it as the working tree when there is no tree); notes a local
    // change when the working tree changed. The record stays as it is. A
    // tree document that does not read is ignored.
    void merge_browser_tree(std::string_view tree);
    // The same for a tree already read from its document (read_tree); the
    // empty tree is ignored like a document that does not read.
    void merge_browser_tree(Core_ZorvaneMerge::zorvane_node_t browser);

    // When the record's last change came from another client type (neither
    // "FIREFOX" nor "WEB"), replaces the working tree by its import into the
    // browser's tree and notes a local change if that changed it. Does
    // nothing without a tree or with a tree document that does not read.
    void import_foreign_tree(std::string_view tree);

    // True when the toolbar, menu and unfiled folders of the browser's tree
    // equal those of the working tree (a folder missing on both sides counts
    // as equal); false without a tree or when `tree` does not read.
    bool roots_unchanged(std::string_view tree) const;

    // ---- State ----

    // The current action (action_enum).
    std::int32_t status() const;
    const account_t& account() const { return m_account; }
    const sync_record_t& last_sync() const { return m_last_sync; }
    // Version -1, no date, and the tree handed over by the last sync as it
    // was handed over (the empty tree before any sync).
    sync_record_t sync_input_record() const;
    // The tree the browser should show: the record's tree with the local
    // changes merged in, or the record's tree when there are none.
    const Core_ZorvaneMerge::zorvane_node_t& working_tree() const;
    const std::string& submit_client_type() const { return m_submit_client_type; }
    const boost::system::error_code& last_error() const { return m_last_error; }
    // Why the last request did not reach the server or read its answer: the
    // session client's outcome and its error code, as on_error received
    // them. Empty (code 0) once a request is sent or answered again.
    const Core_Common::service_error_t& transport_failure() const { return m_transport_failure; }
    const boost::system::error_code& transport_error() const { return m_transport_error; }
    bool local_changes() const { return m_local_changes; }

    // The most commits one sync sends: the first and the renewed ones after
    // "INVALID_VERSION" or "NO_RECORD". A server that keeps refusing past it
    // ends the sync with ZORVANE_INVALID_VERSION.
    static constexpr int kMaxCommitRounds = 4;

    // Whether the tree handed over differs from `record`: true when either
    // the record's tree or `record.tree` is not present; false, with
    // current_tree left as it is, when current_tree, the record's tree and
    // `record.tree` are all equal; otherwise replaces current_tree by the
    // three-way merge (remote `record.tree`, base the record's tree, local
    // current_tree, deletions allowed) and answers whether that merge
    // differs from `record.tree`.
    bool has_changes(const sync_record_t& record);

    // ---- Local store (data directory of client_settings.h) ----

    // Loads the record file for this account (true: it is now the record,
    // with its client type and pending local changes, and the account is
    // verified; false: nothing changed).
    bool load_sync_record();
    // Saves the record with the account, the stored client type and whether
    // local changes are pending. False, with the file untouched, when there
    // is no record tree or no data directory, or when packing or writing
    // fails. `content` is the record content packed ahead, when the caller
    // knows it is the record tree's.
    bool save_sync_record(record_content_ptr content = nullptr);
    void delete_sync_record();
    // Waits for the record content packing ahead, if any, and takes it (null
    // when none was packed or the packing failed).
    record_content_ptr settle_record_ahead();
    // True while the record file is the one this client last loaded or
    // saved (same inode, size and modification time) and neither the record
    // in memory nor the pending local changes have changed since.
    bool record_file_current() const;
    // The notes of the current user (empty when there are none or they do
    // not open for this user).
    std::string load_notes() const;
    void save_notes(const std::string& notes) const;
    void delete_notes() const;
    // The installation's peer identifier, 40 hex digits.
    std::string peer_id() const;

    // ---- Session client ----
    void on_reply(const Core_Common::soap_client_received_t& received) override;
    void on_error(const Core_Common::service_error_t& error,
                  const boost::system::error_code& ec) override;

private:
    void send_update_request();
    void send_commit_request(std::uint32_t baseline);
    void send_overwrite_request();
    // Packs and sends a request: the message document and, for a commit or
    // an overwrite, the document of `tree` (written straight into the
    // packer). A tree document or message document larger than a sync
    // carries (common/size_limits.h) ends the action at once with 11,
    // before anything is sent or written.
    void send_packed(const std::string& xml_part, const Core_ZorvaneMerge::zorvane_node_t* tree);
    // Ends the running action as failed with `error` and notifies.
    void fail_action(const boost::system::error_code& error);

    // Each sets `error` to 3 first and leaves it there on every path that
    // does not set another value.
    void handle_update_reply(const std::string& body, boost::system::error_code& error);
    // Returns true when the action is finished, false when a further commit
    // is in flight.
    bool handle_sync_reply(const std::string& body, boost::system::error_code& error);
    // The end of a sync that the server confirmed: `server` becomes the
    // record (its tree, when it has none, is the tree just committed) and
    // the local changes end when a commit stored them or the browser was
    // handed exactly the record's tree.
    void finish_sync(sync_record_t server, bool committed);
    // The working tree with `local` merged in, nothing deleted, into `out`
    // (`local` is left as it was).
    void merge_without_deletions(Core_ZorvaneMerge::zorvane_node_t& local,
                                 Core_ZorvaneMerge::zorvane_node_t& out);
    // The record becomes `record`; the record file is no longer current.
    void adopt_record(sync_record_t record);
    void set_local_changes(bool pending);
    // The working tree becomes `tree` / the record's tree again.
    void set_local_tree(Core_ZorvaneMerge::zorvane_node_t tree);
    void drop_local_tree();
    void handle_overwrite_reply(const std::string& body, boost::system::error_code& error);

    // The answer to "INVALID_VERSION" when there is no record tree to merge
    // over (a first commit that raced another client's): the server's tree
    // and the handed-over tree are combined into current_tree with nothing
    // deleted, so the renewed commit cannot replace the other client's
    // bookmarks by ours. Returns whether the result differs from the server's
    // tree (true: commit it).
    bool combine_without_base(const sync_record_t& server);
    // The tree a commit's reply says was stored, from its data part: the
    // current tree itself, moved out (the action that sent it is ending),
    // when the data part is, byte for byte, the document sent and reads back
    // as that tree (the usual echo; reading tens of megabytes again is a
    // good part of a large sync), otherwise the tree the data part reads as.
    Core_ZorvaneMerge::zorvane_node_t take_stored_tree(const std::string& data_part);

    // Shared beginning of start_sync and start_overwrite: refuses with 9
    // without a verified user and with 8 (logging `invalid_message`) when
    // `tree` is not present, changing nothing else.
    bool accept_tree(const Core_ZorvaneMerge::zorvane_node_t& tree, const char* invalid_message);
    // start_sync; `working_copy` says `tree` is a copy of working_tree().
    void start_sync(Core_ZorvaneMerge::zorvane_node_t tree, bool working_copy);
    void notify_sync(boost::system::error_code error) const;

    // Whether and what the record file was when the record was last loaded
    // or saved; reset whenever the record in memory changes another way.
    std::optional<Core_Common::file_stamp_t> m_record_stamp;
    sync_record_t m_last_sync;
    // The tree the action works on; during a sync, empty while it is still
    // the handed-over tree (m_sync_input_tree), which is then not copied.
    Core_ZorvaneMerge::zorvane_node_t m_current_tree;
    Core_ZorvaneMerge::zorvane_node_t m_sync_input_tree;
    account_t m_account;
    std::string m_submit_client_type;
    boost::system::error_code m_last_error;
    Core_Common::service_error_t m_transport_failure;
    boost::system::error_code m_transport_error;
    std::int32_t m_action = ACTION_IDLE;
    bool m_local_changes = false;
    // The working tree while local changes brought in by merge_browser_tree
    // or import_foreign_tree wait for a commit; the empty tree otherwise.
    Core_ZorvaneMerge::zorvane_node_t m_local_tree;
    // Set while a sync was handed exactly that working tree: the tree
    // handed over (m_sync_input_tree) then stands for it.
    bool m_working_is_input = false;

    // The sync in flight: whether its request is a commit, how many commits
    // it has sent, whether the server said it lost the account's tree (the
    // record is then no common base), and whether it was handed exactly the
    // record's tree.
    bool m_sync_commit = false;
    int m_commit_rounds = 0;
    bool m_account_emptied = false;
    bool m_handed_record_tree = false;
    // The fingerprint (under the process's key, which the server never
    // learns) of the tree document the last commit or overwrite sent.
    std::optional<Core_Common::fingerprint_t::value_t> m_sent_tree_fingerprint;
    // While a sync's commit is under way, the record content of the tree it
    // sent is packed on a thread of its own (that thread only reads
    // m_current_tree; everything that may change it settles this first: the
    // reply, a failure, reset() and the destructor). A reply storing that
    // very tree writes the record with it.
    std::future<record_content_ptr> m_record_ahead;
    bool m_kept_sent_tree = false;
};

}  // namespace Core_ZorvaneClient
