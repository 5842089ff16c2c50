#include "host_command.h"

#include <chrono>
#include <cstdint>
#include <fstream>
#include <istream>
#include <optional>
#include <string>
#include <vector>

#include "arguments.h"
#include "bookmarks/bookmarks_html.h"
#include "bookmarks/tree_xml.h"
#include "common/size_limits.h"
#include "component/zorvane_extension.h"
#include "data_directory.h"
#include "host_session.h"
#include "mass_delete_guard.h"
#include "platform/host_process.h"
#include "platform/strings.h"
#include "programs/command_line.h"
#include "programs/password_input.h"
#include "session/soap_handler.h"
#include "tree_file.h"
#include "tree_file_memo.h"

namespace Zorvane_Cli {
namespace {

using Core_ZorvaneMerge::zorvane_node_t;

constexpr const char* kOk = "OK";
constexpr const char* kNoRecord = "zorvane.kernel.status.no_record";
constexpr const char* kTooLarge = "zorvane.kernel.status.too_large";
// How much longer than its --timeout the host waits for the engine's answer.
constexpr std::chrono::seconds kDeadlineGrace{5};

// Options that take a value, and options that are flags.
const Zorvane_Programs::option_set_t kOptions = {
    {"--data-dir", "--server", "--user", Zorvane_Programs::kPasswordEnvOption, "--timeout",
     "--component", "--tree", "--out", "--format", "--tls-ca"},
    {Zorvane_Programs::kPasswordStdinOption, "--log", "--allow-mass-delete"},
};

using host_options_t = Zorvane_Programs::command_line_t;

std::string text_of(const nsString& s) { return Core_Platform::wide_to_utf8(s.view()); }

// What a host command works with: the command line as read, and the session
// once the component is open.
struct host_run_t {
    host_run_t(host_session& s, std::istream& i, std::ostream& o, std::ostream& e)
        : session(s), in(i), out(o), err(e) {}

    host_session& session;
    std::istream& in;
    std::ostream& out;
    std::ostream& err;
    std::string command;
    std::string note_action;  // get, set or delete for "note"
    std::string user;
    std::string password;
    std::string data_dir;
    std::string tree_path;  // --tree
    std::string out_path;   // --out; empty when not given
    bool allow_mass_delete = false;
    bool html = false;
    // The server talks TLS ("tls://"); the data directory is the same as for
    // clear text. `tls_ca` is --tls-ca, empty when not given.
    bool tls = false;
    std::string tls_ca;
    std::chrono::seconds timeout{60};
    // The tree file, read while the component loads, then taken into
    // `document` (the tree document handed over) and `browser_tree` (what it
    // reads as).
    pending_tree_file tree_file;
    std::string document;
    zorvane_node_t browser_tree;
    // The rest of what was taken: the file's digest, and a file left unread
    // for the data directory's memo (`document` and `browser_tree` are then
    // empty until read_tree_now()).
    tree_file_t file;

    IZorvaneExtension* extension() const { return session.extension(); }
    bool take_tree_file() {
        if (!tree_file.take(file, err)) return false;
        document = std::move(file.document);
        browser_tree = std::move(file.tree);
        return true;
    }
    bool tree_unread() const { return file.known.has_value(); }
    Core_Common::fingerprint_t::value_t fingerprint(std::u16string_view text) const {
        return text_fingerprint(file.text_key, text);
    }
    bool read_tree_now() {
        if (!tree_unread()) return true;
        if (!file.read_now(err)) return false;
        document = std::move(file.document);
        browser_tree = std::move(file.tree);
        return true;
    }
};

// The stored tree as a document and as a tree.
struct stored_tree_t {
    std::string document;
    zorvane_node_t tree;
};

stored_tree_t stored_tree(const host_session& s) {
    stored_tree_t t;
    t.document = s.tree();
    Core_ZorvaneMerge::read_tree(t.document, t.tree);
    return t;
}

// What the host says when a tree is larger than a sync carries; `what` names
// the tree and `bytes` is the size of its document (0: not known here).
void say_too_large(const std::string& what, std::size_t bytes, std::ostream& err) {
    err << "zorvane: " << what;
    if (bytes != 0) err << " is " << bytes << " bytes as a tree document, which";
    err << " is more than a sync carries (" << Core_Common::max_tree_bytes
        << " bytes at most); nothing was sent or written\n";
}

void print_record(const host_session& s, std::size_t nodes, std::ostream& out) {
    out << "version=" << s.version() << "\n"
        << "date=" << s.date() << "\n"
        << "nodes=" << nodes << "\n";
}

// Waits for `topic`. The engine ends each request within the run's timeout
// (the deadline the host handed down) and reports the failure; the host
// waits a little longer, so that is what it hears. Returns false on
// time-out (reported).
bool run_action(host_run_t& r, const char* topic, std::string& result) {
    if (r.session.wait(topic, r.timeout + kDeadlineGrace, result)) return true;
    r.err << "zorvane: no answer within " << r.timeout.count() << " s (topic " << topic << ")\n";
    return false;
}

// Makes sure the account is verified and the stored tree is current when the
// data directory holds no record yet: an update brings the account's tree
// in. Sets `result` to the update's outcome ("OK" also for an account
// without bookmarks). Returns false on time-out.
bool bring_in_account(host_run_t& r, std::string& result) {
    result = kOk;
    if (r.session.version() != -1) return true;
    r.extension()->update();
    if (!run_action(r, ZORVANE_UPDATE_TOPIC, result)) return false;
    if (result == kNoRecord) result = kOk;
    return true;
}

// One line on standard error saying what a result other than OK means for
// the user; nothing was synchronised and --out was not written.
void explain_failure(const std::string& result, std::ostream& err, const std::string& failure) {
    const char* why = nullptr;
    if (result == "zorvane.kernel.status.connect_failed" && !failure.empty()) {
        why = failure.c_str();
    } else if (result == "zorvane.kernel.status.connect_failed") {
        why =
            "no usable answer from the server (not reached, or its answer did not read or did "
            "not store the tree)";
    } else if (result == "zorvane.kernel.status.exception") {
        why =
            "the server did not store the tree (it refused it, is in maintenance, failed, or "
            "kept answering that another computer committed first)";
    } else if (result == "zorvane.kernel.status.invalid_password") {
        why = "the server refused the user name or password";
    } else if (result == kNoRecord) {
        why = "the account holds no bookmarks";
    } else if (result == "zorvane.kernel.status.out_of_date") {
        why = "the server refuses this version of the program";
    }
    if (why != nullptr) {
        err << "zorvane: " << why << "; nothing was synchronised\n";
    }
}

// "result=" and, for anything but OK, what it means; the exit status.
int report_result(host_run_t& r, const std::string& result) {
    r.out << "result=" << result << "\n";
    if (result == kOk) return kExitOk;
    explain_failure(result, r.err, r.session.failure());
    return kExitFailure;
}

// Says that the data directory holds no synchronised tree.
int no_stored_tree(const host_run_t& r) {
    r.err << "zorvane: no synchronised tree for " << r.user << " in " << r.data_dir << "\n";
    return kExitFailure;
}

int run_status(host_run_t& r) {
    nsString user, status;
    std::int32_t verified = 0;
    r.session.info()->getUserName(user);
    r.session.info()->getVerified(&verified);
    r.session.info()->getStatus(status);
    r.out << "user=" << text_of(user) << "\n"
          << "data_dir=" << r.data_dir << "\n"
          << "verified=" << verified << "\n"
          << "version=" << r.session.version() << "\n"
          << "date=" << r.session.date() << "\n"
          << "status=" << text_of(status) << "\n";
    return kExitOk;
}

int run_update(host_run_t& r) {
    std::string result;
    if (r.session.version() == -1) {
        r.extension()->update();
        if (!run_action(r, ZORVANE_UPDATE_TOPIC, result)) return kExitTimeout;
    } else {
        // A record is stored already: handing its own tree to a sync
        // changes nothing locally and brings in any newer server tree.
        {
            // The component reads it into its own tree at once.
            std::optional<nsString> stored;
            r.session.tree_text(stored);
            r.extension()->sync(*stored);
        }
        if (!run_action(r, ZORVANE_SYNC_TOPIC, result)) return kExitTimeout;
    }
    // An account without bookmarks is up to date, as for a first sync;
    // there is no record to show (version=-1).
    if (result == kNoRecord && r.session.version() == -1) {
        r.err << "zorvane: the account holds no bookmarks yet\n";
        result = kOk;
    }
    if (const int status = report_result(r, result); status != kExitOk) return status;
    print_record(r.session, r.session.tree_nodes(), r.out);
    return kExitOk;
}

// Hands `tree` to the component's sync, or to its overwrite.
void hand_tree(host_run_t& r, bool sync, const nsAString& tree) {
    if (sync) {
        r.extension()->sync(tree);
    } else {
        r.extension()->overwrite(tree);
    }
}

// sync and overwrite.
int run_sync(host_run_t& r) {
    host_session& s = r.session;
    const bool sync = r.command == "sync";
    const bool first = s.version() == -1;
    // With a record, the stored tree is fetched for the guard while the
    // tree file may still be being read.
    std::optional<nsString> last_document;
    if (!first) s.tree_text(last_document);
    if (!r.take_tree_file()) return kExitFailure;
    // Whether the tree file's document is the stored tree's, byte for byte;
    // and the fingerprint of the text of the file's document, once known,
    // for the memo.
    bool stored_document = false;
    std::optional<Core_Common::fingerprint_t::value_t> file_text;
    // The memo that knows the file, when it holds the stored tree.
    std::optional<tree_file_memo_t> memo;
    if (r.tree_unread()) {
        // The memo knows the file: it holds the stored tree when the stored
        // tree's text is its document's. Otherwise it is read after all.
        if (last_document && !last_document->view().empty() &&
            r.fingerprint(last_document->view()) == r.file.known->text) {
            memo = r.file.known;
            stored_document = true;
        }
        if (!stored_document && !r.read_tree_now()) return kExitFailure;
    }
    // Refused before anything is sent (the first sync's update
    // included) or written.
    if (r.document.size() > Core_Common::max_tree_bytes) {
        say_too_large("the bookmark tree of " + r.tree_path, r.document.size(), r.err);
        r.out << "result=" << kTooLarge << "\n";
        return kExitFailure;
    }
    std::string result;
    if (!bring_in_account(r, result)) return kExitTimeout;
    if (result != kOk) return report_result(r, result);
    // The update brought a tree in (a new version): the account holds one.
    const bool merge_first = sync && first && s.version() > 0;
    // The nodes of the stored tree before the sync, when the guard
    // fetched it.
    std::optional<std::size_t> nodes_before;
    const std::int32_t version_before = s.version();
    if (merge_first) {
        // First sync of this data directory over an account that holds a
        // tree: the engine merges the file's tree into the account's
        // without deletions (the browser has not seen the account's tree
        // yet), so neither side loses a bookmark; nothing to guard.
    } else {
        // A first sync brought the account's tree in just now.
        if (first) s.tree_text(last_document);
        const std::u16string_view last =
            last_document ? last_document->view() : std::u16string_view();
        if (!stored_document) {
            stored_document = !last.empty() && same_document(last, r.document);
            if (stored_document) file_text = r.fingerprint(last);
        }
        const auto pending = [&] { return local_changes_pending(r.data_dir, r.user, r.password); };
        if (!stored_document && !guard_allows(last, r.browser_tree, r.allow_mass_delete,
                                              r.command.c_str(), pending, r.err)) {
            r.out << "result=refused\n";
            return kExitFailure;
        }
        if (!last.empty()) nodes_before = s.tree_nodes();
        if (!stored_document) last_document.reset();
    }
    // The component reads what it is handed into its own tree; the
    // host's forms go as soon as the next one exists.
    r.browser_tree = zorvane_node_t();
    if (stored_document) {
        // The file holds the stored tree's document byte for byte: the
        // component's own text of it goes back, with no conversion.
        std::string().swap(r.document);
        hand_tree(r, sync, *last_document);
        last_document.reset();
    } else {
        const wide_document handed(r.document);
        std::string().swap(r.document);
        file_text = r.fingerprint(handed.view());
        hand_tree(r, sync, handed.text());
    }
    if (!run_action(r, sync ? ZORVANE_SYNC_TOPIC : ZORVANE_OVERWRITE_TOPIC, result))
        return kExitTimeout;
    r.out << "result=" << result << "\n";
    if (result == kTooLarge) say_too_large("the merged bookmark tree", 0, r.err);
    if (result != kOk) {
        explain_failure(result, r.err, r.session.failure());
        return kExitFailure;
    }
    // The memo learns what the file's document is, so that the next sync of
    // the same file need not read it when the stored tree is that document
    // then. It is learnt whatever the sync made of the file (a merge, say):
    // each use checks it against the stored tree of that moment.
    if (file_text && !memo) {
        save_tree_file_memo(r.data_dir, {r.html, r.file.file_digest, r.file.text_key, *file_text});
    }
    if (r.out_path.empty()) {
        // A sync that kept the version kept the stored tree (a new tree
        // always comes with a new version): its nodes were counted before.
        const bool kept =
            sync && nodes_before && version_before > 0 && s.version() == version_before;
        print_record(s, kept ? *nodes_before : s.tree_nodes(), r.out);
        return kExitOk;
    }
    const stored_tree_t synced = stored_tree(s);
    print_record(s, node_count(synced.tree), r.out);
    if (!write_tree_file(r.out_path, r.html, synced.document, synced.tree, r.err))
        return kExitFailure;
    return kExitOk;
}

int run_export(host_run_t& r) {
    const stored_tree_t stored = stored_tree(r.session);
    if (stored.document.empty()) return no_stored_tree(r);
    if (!write_tree_file(r.out_path, r.html, stored.document, stored.tree, r.err))
        return kExitFailure;
    print_record(r.session, node_count(stored.tree), r.out);
    return kExitOk;
}

int run_note(host_run_t& r) {
    nsCOMPtr<IZorvaneLocalNote> note;
    r.extension()->getLocalNote(note.receive());
    if (r.note_action == "get") {
        nsString text;
        note->getNote(text);
        r.out << text_of(text);
    } else if (r.note_action == "set") {
        std::string text((std::istreambuf_iterator<char>(r.in)), std::istreambuf_iterator<char>());
        note->setNote(nsString(Core_Platform::utf8_to_wide(text)));
    } else {
        note->deleteNote();
    }
    return kExitOk;
}

int run_forget(host_run_t& r) {
    r.extension()->forgetUser();
    r.out << "result=OK\n";
    return kExitOk;
}

int run_wipe(host_run_t& r) {
    r.extension()->deleteLocalData();
    r.out << "result=OK\n";
    return kExitOk;
}

int run_roots_unchanged(host_run_t& r) {
    std::int32_t unchanged = 0;
    r.extension()->rootsUnchanged(wide_document(r.document).text(), &unchanged);
    r.out << "unchanged=" << unchanged << "\n";
    return kExitOk;
}

// merge-browser-tree, import-foreign-tree: the stored tree changed in
// memory, written out; the data directory keeps the synchronised record.
int run_merge_in_memory(host_run_t& r) {
    if (r.session.tree().empty()) return no_stored_tree(r);
    if (r.command == "merge-browser-tree") {
        r.extension()->mergeBrowserTree(wide_document(r.document).text());
    } else {
        r.extension()->importForeignTree(wide_document(r.document).text());
    }
    const stored_tree_t merged = stored_tree(r.session);
    if (!r.out_path.empty()) {
        return write_tree_file(r.out_path, r.html, merged.document, merged.tree, r.err)
                   ? kExitOk
                   : kExitFailure;
    }
    r.out << (r.html ? Core_ZorvaneMerge::write_bookmarks_html(merged.tree) : merged.document);
    return kExitOk;
}

// One host command and what it needs before it runs.
struct host_command_t {
    const char* name;
    bool needs_tree;       // --tree FILE is required (and refused otherwise)
    bool needs_password;   // an empty password is wrong usage
    bool writes;           // talks to the server: the data directory must take a record
    bool takes_tree_late;  // takes the tree file itself, after its own preparations
    int (*run)(host_run_t&);
};

const host_command_t kCommands[] = {
    {"update", false, true, true, false, &run_update},
    {"sync", true, true, true, true, &run_sync},
    {"overwrite", true, true, true, true, &run_sync},
    {"status", false, true, false, false, &run_status},
    {"export", false, true, false, false, &run_export},
    {"note", false, false, false, false, &run_note},
    {"forget", false, true, false, false, &run_forget},
    {"wipe", false, false, false, false, &run_wipe},
    {"roots-unchanged", true, true, false, false, &run_roots_unchanged},
    {"merge-browser-tree", true, true, false, false, &run_merge_in_memory},
    {"import-foreign-tree", true, true, false, false, &run_merge_in_memory},
};

const host_command_t* find_command(const std::string& name) {
    for (const host_command_t& c : kCommands) {
        if (name == c.name) return &c;
    }
    return nullptr;
}

// Checks the command line of `c` and reads what it needs into `r`: the
// settings, the data directory (made ready when the command writes) and the
// password. Returns kExitOk, or the exit status after a one-line complaint.
int prepare(const host_command_t& c, const host_options_t& o, host_run_t& r, std::string& server) {
    std::ostream& err = r.err;
    r.command = c.name;
    if (r.command == "note") {
        if (o.operands.size() != 2 ||
            (o.operands[1] != "get" && o.operands[1] != "set" && o.operands[1] != "delete")) {
            err << "zorvane: note needs one of get, set, delete\n";
            return kExitUsage;
        }
        r.note_action = o.operands[1];
    } else if (o.operands.size() != 1) {
        err << "zorvane: unexpected argument '" << o.operands[1] << "'\n";
        return kExitUsage;
    }
    if (c.needs_tree && !o.has("--tree")) {
        err << "zorvane: " << r.command << " needs --tree FILE\n";
        return kExitUsage;
    }
    if (!c.needs_tree && o.has("--tree")) {
        err << "zorvane: " << r.command << " takes no --tree\n";
        return kExitUsage;
    }
    if (r.command == "export" && !o.has("--out")) {
        err << "zorvane: export needs --out FILE\n";
        return kExitUsage;
    }
    if (o.has("--data-dir") && o.value("--data-dir").empty()) {
        err << "zorvane: --data-dir needs a directory\n";
        return kExitUsage;
    }
    if (!o.has("--user") || o.value("--user").empty()) {
        err << "zorvane: --user NAME is required\n";
        return kExitUsage;
    }
    if (o.has(Zorvane_Programs::kPasswordEnvOption) &&
        o.has(Zorvane_Programs::kPasswordStdinOption)) {
        err << "zorvane: " << Zorvane_Programs::kOnePasswordSource << "\n";
        return kExitUsage;
    }
    if (o.has("--timeout")) {
        const std::string t = o.value("--timeout");
        if (t.empty() || t.size() > 6 || t.find_first_not_of("0123456789") != std::string::npos ||
            std::stoi(t) == 0) {
            err << "zorvane: --timeout needs a whole number of seconds (1 or more)\n";
            return kExitUsage;
        }
        r.timeout = std::chrono::seconds(std::stoi(t));
    }
    if (o.has("--server") && o.value("--server").empty()) {
        err << "zorvane: --server needs HOST or HOST:PORT\n";
        return kExitUsage;
    }
    server = server_or_default(o.value("--server"));
    {
        std::string host;
        std::uint16_t port = 0;
        if (!Core_SOAPClient::parse_server_address(server, 8080, host, port, &r.tls)) {
            err << "zorvane: the server needs HOST, HOST:PORT or [IPV6]:PORT (tls:// before it "
                   "for TLS), the port a number from 1 to 65535\n";
            return kExitUsage;
        }
        server = (host.find(':') == std::string::npos ? host : "[" + host + "]") + ":" +
                 std::to_string(port);
    }
    if (o.has("--tls-ca") && (!r.tls || !std::ifstream(o.value("--tls-ca")))) {
        err << "zorvane: "
            << (r.tls ? "cannot read the TLS CA file " + o.value("--tls-ca")
                      : std::string("--tls-ca needs a tls:// server"))
            << "\n";
        return kExitUsage;
    }
    r.tls_ca = o.value("--tls-ca");
    r.user = o.value("--user");
    r.tree_path = o.value("--tree");
    r.out_path = o.value("--out");
    r.allow_mass_delete = o.has("--allow-mass-delete");

    // The account's own directory unless one is given.
    std::string error;
    r.data_dir = o.value("--data-dir");
    if (r.data_dir.empty()) {
        r.data_dir = default_data_directory(r.user, server, error);
        if (r.data_dir.empty()) {
            err << "zorvane: " << error << "\n";
            return kExitFailure;
        }
    }
    // An action that talks to the server or writes the note must be able to
    // keep its record: without one every sync would be a first sync, and a
    // bookmark deleted from the file would come back. Nothing is sent before
    // the directory is there and takes a file.
    const bool writes = c.writes || r.note_action == "set";
    if (writes && !prepare_data_directory(r.data_dir, error)) {
        err << "zorvane: " << error << "\n";
        return kExitFailure;
    }

    const Zorvane_Programs::password_result_t password =
        Zorvane_Programs::read_password(o, r.in, r.password);
    if (!password.read() && !password.message.empty()) {
        err << "zorvane: " << password.message << "\n";
        return kExitUsage;
    }
    if (c.needs_password && r.password.empty()) {
        err << "zorvane: " << r.command << " needs the password (--password-env VAR or "
            << "--password-stdin)\n";
        return kExitUsage;
    }

    const std::string format = o.has("--format") ? o.value("--format") : "xml";
    if (format != "xml" && format != "html") {
        err << "zorvane: --format is xml or html\n";
        return kExitUsage;
    }
    r.html = format == "html";
    return kExitOk;
}

// The component library beside the program unless one is given.
std::string component_path(const host_options_t& o) {
    std::string component = o.value("--component");
    if (component.empty()) {
        std::string exe = Core_Platform::host_executable_path();
        const auto slash = exe.rfind('/');
        component = (slash == std::string::npos ? std::string(".") : exe.substr(0, slash)) +
                    "/../lib/libzorvane_component.so";
    }
    return component;
}

const char* kUsage = "Usage: zorvane [OPTIONS] COMMAND [COMMAND OPTIONS]\n";

}  // namespace

bool is_host_command(const std::string& name) { return find_command(name) != nullptr; }

void print_host_help(std::ostream& out) {
    out << "Sync commands (they load the component and talk to the server):\n"
           "  update                       bring in the account's tree (verifies the user)\n"
           "  sync --tree FILE [--out FILE] synchronise a tree document with the account;\n"
           "                               --out writes the synchronised tree\n"
           "  overwrite --tree FILE        replace the account's tree by the document\n"
           "  status                       show the user, the data directory and the last\n"
           "                               synchronised record\n"
           "  export --out FILE            write the last synchronised tree\n"
           "  note get|set|delete          the local note (set reads it from stdin)\n"
           "  forget                       forget the user's record and note in DIR\n"
           "  wipe                         delete the record and note files in DIR\n"
           "  roots-unchanged --tree FILE  unchanged=1 when the toolbar, menu and unfiled\n"
           "                               folders equal the synchronised ones\n"
           "  merge-browser-tree --tree FILE [--out FILE]\n"
           "                               print the synchronised tree with FILE merged in\n"
           "                               (nothing deleted; the data directory is unchanged)\n"
           "  import-foreign-tree --tree FILE [--out FILE]\n"
           "                               print the synchronised tree another client type\n"
           "                               wrote, adopted into FILE's form (DIR unchanged)\n"
           "\n"
           "Options of the sync commands:\n"
           "  --data-dir DIR         the local data files: the record of the last sync,\n"
           "                         the note and this computer's identifier (default\n"
           "                         $XDG_DATA_HOME/zorvane/USER@HOST:PORT, that is\n"
           "                         ~/.local/share/zorvane/USER@HOST:PORT; created with\n"
           "                         mode 0700 when missing)\n"
           "  --server HOST[:PORT]   the server (default $ZORVANE_SERVER, or localhost;\n"
           "                         port 8080; an IPv6 address in brackets: [::1]:8080);\n"
           "                         tls://HOST[:PORT] talks TLS, checking the server's\n"
           "                         certificate and name, and never falls back to clear text\n"
           "  --tls-ca FILE          trust only the CA or pinned certificate(s) in FILE (PEM)\n"
           "                         for a tls:// server (default $ZORVANE_TLS_CA, or the\n"
           "                         system's CA store)\n"
           "  --user NAME            the account (required)\n"
           "  --password-env VAR     read the password from environment variable VAR\n"
           "  --password-stdin       read the password from the first line of stdin\n"
           "  --timeout SECONDS      a request without a whole answer within this time\n"
           "                         fails (connecting included; default 60)\n"
           "  --component PATH       the component library (default\n"
           "                         ../lib/libzorvane_component.so beside the program)\n"
           "  --allow-mass-delete    let sync/overwrite remove more than half of the\n"
           "                         synchronised bookmarks, or more than 1000\n"
           "  --format xml|html      tree files (--tree, --out) are bookmark tree XML\n"
           "                         documents (default) or browsers' bookmark-file HTML\n"
           "  --log                  turn the engine's log on\n"
           "\n"
           "The first sync of a data directory loses nothing: when the account holds a\n"
           "tree already, it is brought in and the file's tree merged into it without\n"
           "deletions before syncing.\n"
           "Output: key=value lines; result=OK or a zorvane.kernel.status. key, then\n"
           "version=, date=, nodes= on success.\n"
           "Exit status: 0 OK, 1 another result or a failure, 2 wrong usage,\n"
           "3 no answer before the time-out. While waiting, a terminal on stderr shows\n"
           "the seconds waited.\n";
}

int run_host_command(const std::vector<std::string>& args, std::istream& in, std::ostream& out,
                     std::ostream& err) {
    host_options_t o;
    Zorvane_Programs::command_line_error_t error;
    if (!Zorvane_Programs::parse_command_line(args, kOptions, o, error)) {
        err << "zorvane: " << error.text('\'') << " (try 'zorvane --help')\n";
        return kExitUsage;
    }
    if (o.help) {
        out << kUsage << "\n";
        print_host_help(out);
        return kExitOk;
    }
    const host_command_t* c = o.operands.empty() ? nullptr : find_command(o.operands[0]);
    if (c == nullptr) {
        err << "zorvane: missing or unknown command (try 'zorvane --help')\n";
        return kExitUsage;
    }
    host_session s(err);
    host_run_t r(s, in, out, err);
    std::string server;
    if (const int status = prepare(*c, o, r, server); status != kExitOk) return status;
    if (!s.pass_settings((r.tls ? "tls://" : "") + server, o.has("--log"), r.timeout, r.tls_ca))
        return kExitFailure;

    // The tree file is read on a thread of its own while the component loads
    // and reads the data directory's record (for a large collection each
    // takes a good part of a second, and they share nothing); it is taken
    // before anything is sent or written.
    // sync and overwrite may leave a file the data directory's memo knows
    // unread.
    if (c->needs_tree) {
        r.tree_file.start(r.tree_path, r.html, c->takes_tree_late ? r.data_dir : std::string());
    }
    if (!s.open(component_path(o), r.data_dir, r.user, r.password)) {
        r.take_tree_file();  // its complaint, if any, is reported too
        return kExitFailure;
    }
    if (!c->takes_tree_late && !r.take_tree_file()) return kExitFailure;
    return c->run(r);
}

}  // namespace Zorvane_Cli
