#include "host_command.h"

#include <libxml/parser.h>
#include <malloc.h>

#include <chrono>
#include <cstdint>
#include <fstream>
#include <functional>
#include <future>
#include <istream>
#include <map>
#include <optional>
#include <set>
#include <sstream>
#include <string>
#include <thread>

#include "arguments.h"
#include "bookmarks/tree_xml.h"
#include "bookmarks_html.h"
#include "common/size_limits.h"
#include "common/whole_file.h"
#include "component/zorvane_extension.h"
#include "data_directory.h"
#include "host_session.h"
#include "mass_delete_guard.h"
#include "platform/environment.h"
#include "platform/host_process.h"
#include "platform/strings.h"
#include "session/soap_handler.h"
#include "sync_client/local_store.h"

namespace Zorvane_Cli {
namespace {

using Core_ZorvaneMerge::zorvane_node_t;

constexpr const char* kOk = "OK";
constexpr const char* kNoRecord = "zorvane.kernel.status.no_record";
constexpr const char* kTooLarge = "zorvane.kernel.status.too_large";
// How much longer than its --timeout the host waits for the engine's answer.
constexpr std::chrono::seconds kDeadlineGrace{5};

const std::set<std::string> kCommands = {
    "update",
    "sync",
    "overwrite",
    "status",
    "export",
    "note",
    "forget",
    "wipe",
    "roots-unchanged",
    "merge-browser-tree",
    "import-foreign-tree",
};
// Options that take a value, and options that are flags.
const std::set<std::string> kValueOptions = {
    "--data-dir",  "--server", "--user", "--password-env", "--timeout",
    "--component", "--tree",   "--out",  "--format",       "--tls-ca",
};
const std::set<std::string> kFlagOptions = {
    "--password-stdin", "--log", "--allow-mass-delete", "--help", "-h",
};

struct host_options_t {
    std::map<std::string, std::string> values;
    std::set<std::string> flags;
    std::vector<std::string> operands;
    bool has(const std::string& name) const { return flags.count(name) != 0; }
    std::string value(const std::string& name) const {
        auto it = values.find(name);
        return it == values.end() ? std::string() : it->second;
    }
    bool given(const std::string& name) const { return values.count(name) != 0; }
};

bool parse(const std::vector<std::string>& args, host_options_t& out, std::string& error) {
    for (std::size_t i = 0; i < args.size(); ++i) {
        std::string arg = args[i];
        if (arg.rfind("-", 0) != 0) {
            out.operands.push_back(arg);
            continue;
        }
        std::string value;
        bool inline_value = false;
        if (const auto eq = arg.find('='); eq != std::string::npos && arg.rfind("--", 0) == 0) {
            value = arg.substr(eq + 1);
            arg = arg.substr(0, eq);
            inline_value = true;
        }
        if (kFlagOptions.count(arg) != 0 && !inline_value) {
            out.flags.insert(arg == "-h" ? "--help" : arg);
        } else if (kValueOptions.count(arg) != 0) {
            if (!inline_value) {
                if (i + 1 >= args.size()) {
                    error = "option " + arg + " needs a value";
                    return false;
                }
                value = args[++i];
            }
            out.values[arg] = value;
        } else if (arg == "--password") {
            error =
                "passwords are not taken on the command line; use --password-env VAR or "
                "--password-stdin";
            return false;
        } else {
            error = "unknown option " + arg;
            return false;
        }
    }
    return true;
}

std::u16string wide(const std::string& utf8) { return Core_Platform::utf8_to_wide(utf8); }

std::string text_of(const nsString& s) { return Core_Platform::wide_to_utf8(s.view()); }

// Reads the tree file into `document` (the tree document handed to the
// component) and `tree` (what that document reads as). Either kind of file
// is handed over as the tree document written from what it reads as: the
// same form the component gives back, so that an unchanged tree shows as
// an equal document.
bool read_tree_file(const std::string& path, bool html, std::string& document, zorvane_node_t& tree,
                    std::ostream& err) {
    if (!Core_Common::read_whole_file(wide(path), document)) {
        err << "zorvane: cannot read the tree file " << path << "\n";
        return false;
    }
    if (html) {
        std::string why;
        if (!read_bookmarks_html(document, tree, &why)) {
            err << "zorvane: " << path << ": " << why << "\n";
            return false;
        }
        Core_ZorvaneMerge::write_tree(tree, document);
        return true;
    }
    std::string why;
    Core_ZorvaneMerge::read_tree(document, tree, why);
    if (tree.type == Core_ZorvaneMerge::NODE_NONE) {
        err << "zorvane: " << path << " is not a bookmark tree document (" << why << ")\n";
        return false;
    }
    Core_ZorvaneMerge::write_tree(tree, document);
    return true;
}

// A tree file as read by read_tree_file, with what it reported.
struct tree_file_t {
    bool ok = false;
    std::string document;
    zorvane_node_t tree;
    std::string errors;
};

// read_tree_file on a thread of its own.
std::future<tree_file_t> read_tree_file_async(const std::string& path, bool html) {
    // The XML library's global tables are set up before a second thread
    // parses.
    xmlInitParser();
    return std::async(std::launch::async, [path, html] {
        tree_file_t file;
        std::ostringstream errors;
        file.ok = read_tree_file(path, html, file.document, file.tree, errors);
        file.errors = errors.str();
        // What the reading left free on this thread's heap goes back to the
        // system now, rather than staying resident while the sync runs.
        malloc_trim(0);
        return file;
    });
}

// Writes the tree `document` (XML form), which reads as `tree`, to `path`;
// as HTML when `html`.
bool write_file(const std::string& path, bool html, const std::string& document,
                const zorvane_node_t& tree, std::ostream& err) {
    if (!Core_Common::write_whole_file(wide(path), html ? write_bookmarks_html(tree) : document)) {
        err << "zorvane: cannot write " << path << "\n";
        return false;
    }
    return true;
}

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

// The number of nodes of a tree document the component wrote: write_tree
// gives every node one "<node>" start tag, and a "<" in any text is
// escaped, so counting the tags counts the nodes without reading the tree.
// The document is the component's UTF-16 form, counted without converting it.
std::size_t nodes_in_document(std::u16string_view document) {
    std::size_t count = 0;
    for (std::size_t at = document.find(u"<node>"); at != std::u16string_view::npos;
         at = document.find(u"<node>", at + 6)) {
        ++count;
    }
    return count;
}

// Whether `wide` converts to exactly `utf8`, found a piece at a time (no
// surrogate pair cut) rather than by converting it whole.
bool same_document(std::u16string_view wide, std::string_view utf8) {
    constexpr std::size_t kPiece = 256 * 1024;
    std::string piece;
    std::size_t matched = 0;
    for (std::size_t at = 0; at < wide.size();) {
        std::size_t n = std::min(wide.size() - at, kPiece);
        if (at + n < wide.size() && wide[at + n - 1] >= 0xD800 && wide[at + n - 1] <= 0xDBFF) --n;
        Core_Platform::wide_to_utf8(wide.substr(at, n), piece);
        if (utf8.substr(matched, piece.size()) != piece) return false;
        matched += piece.size();
        at += n;
    }
    return matched == utf8.size();
}

void print_record(host_session& s, std::size_t nodes, std::ostream& out) {
    out << "version=" << s.version() << "\n"
        << "date=" << s.date() << "\n"
        << "nodes=" << nodes << "\n";
}

// Waits for `topic`. The engine ends each request within `timeout` (the
// deadline the host handed down) and reports the failure; the host waits a
// little longer, so that is what it hears. Returns false on time-out
// (reported).
bool run_action(host_session& s, const char* topic, std::chrono::seconds timeout,
                std::string& result, std::ostream& err) {
    if (s.wait(topic, timeout + kDeadlineGrace, result)) return true;
    err << "zorvane: no answer within " << timeout.count() << " s (topic " << topic << ")\n";
    return false;
}

// Makes sure the account is verified and the stored tree is current when the
// data directory holds no record yet: an update brings the account's tree
// in. Sets `result` to the update's outcome ("OK" also for an account
// without bookmarks). Returns false on time-out.
bool bring_in_account(host_session& s, std::chrono::seconds timeout, std::string& result,
                      std::ostream& err) {
    result = kOk;
    if (s.version() != -1) return true;
    s.extension()->update();
    if (!run_action(s, ZORVANE_UPDATE_TOPIC, timeout, result, err)) return false;
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

// Whether the record of `data_dir` holds local changes that wait for a
// commit (a first sync that did not finish): a sync then deletes nothing.
bool local_changes_pending(const std::string& data_dir, const std::string& user,
                           const std::string& password) {
    Core_ZorvaneClient::account_t account;
    account.user_name = wide(user);
    account.password = wide(password);
    Core_ZorvaneClient::sync_record_t record;
    std::string client_type;
    bool pending = false;
    return Core_ZorvaneClient::load_record_file(wide(data_dir), account, record, client_type,
                                                &pending) == Core_ZorvaneClient::RECORD_LOADED &&
           pending;
}

// The guard; true when the action may go on. `last_document` is the stored
// tree's document as the component gives it (empty without one),
// `document` the one about to be handed over, which reads as `browser`.
bool guard_allows(std::u16string_view last_document, const std::string& document,
                  const zorvane_node_t& browser, bool allowed, const char* action,
                  const std::function<bool()>& deletes_nothing, std::ostream& err) {
    // The same document removes nothing; reading the stored tree (tens of
    // megabytes for a large collection) is only needed when they differ.
    if (last_document.empty() || same_document(last_document, document)) return true;
    zorvane_node_t last;
    Core_ZorvaneMerge::read_tree(Core_Platform::wide_to_utf8(last_document), last);
    const removal_count_t count = count_removals(last, browser);
    if (!is_mass_delete(count)) return true;
    // A first sync that did not finish: the engine merges without deleting.
    if (std::string_view(action) == "sync" && deletes_nothing()) return true;
    if (allowed) {
        err << "zorvane: " << action << " removes " << count.removed << " of " << count.synchronised
            << " bookmarks (allowed by --allow-mass-delete)\n";
        return true;
    }
    err << "zorvane: refusing to " << action << ": it would remove " << count.removed << " of "
        << count.synchronised
        << " synchronised bookmarks; check the tree file, or give --allow-mass-delete\n";
    return false;
}

const char* kUsage = "Usage: zorvane [OPTIONS] COMMAND [COMMAND OPTIONS]\n";

}  // namespace

bool is_host_command(const std::string& name) { return kCommands.count(name) != 0; }

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
    std::string error;
    if (!parse(args, o, error)) {
        err << "zorvane: " << error << " (try 'zorvane --help')\n";
        return kExitUsage;
    }
    if (o.has("--help")) {
        out << kUsage << "\n";
        print_host_help(out);
        return kExitOk;
    }
    if (o.operands.empty() || !is_host_command(o.operands[0])) {
        err << "zorvane: missing or unknown command (try 'zorvane --help')\n";
        return kExitUsage;
    }
    const std::string command = o.operands[0];
    std::string note_action;
    if (command == "note") {
        if (o.operands.size() != 2 ||
            (o.operands[1] != "get" && o.operands[1] != "set" && o.operands[1] != "delete")) {
            err << "zorvane: note needs one of get, set, delete\n";
            return kExitUsage;
        }
        note_action = o.operands[1];
    } else if (o.operands.size() != 1) {
        err << "zorvane: unexpected argument '" << o.operands[1] << "'\n";
        return kExitUsage;
    }
    const bool needs_tree = command == "sync" || command == "overwrite" ||
                            command == "roots-unchanged" || command == "merge-browser-tree" ||
                            command == "import-foreign-tree";
    if (needs_tree && !o.given("--tree")) {
        err << "zorvane: " << command << " needs --tree FILE\n";
        return kExitUsage;
    }
    if (!needs_tree && o.given("--tree")) {
        err << "zorvane: " << command << " takes no --tree\n";
        return kExitUsage;
    }
    if (command == "export" && !o.given("--out")) {
        err << "zorvane: export needs --out FILE\n";
        return kExitUsage;
    }
    if (o.given("--data-dir") && o.value("--data-dir").empty()) {
        err << "zorvane: --data-dir needs a directory\n";
        return kExitUsage;
    }
    if (!o.given("--user") || o.value("--user").empty()) {
        err << "zorvane: --user NAME is required\n";
        return kExitUsage;
    }
    if (o.given("--password-env") && o.has("--password-stdin")) {
        err << "zorvane: give --password-env or --password-stdin, not both\n";
        return kExitUsage;
    }
    std::chrono::seconds timeout{60};
    if (o.given("--timeout")) {
        const std::string t = o.value("--timeout");
        if (t.empty() || t.size() > 6 || t.find_first_not_of("0123456789") != std::string::npos ||
            std::stoi(t) == 0) {
            err << "zorvane: --timeout needs a whole number of seconds (1 or more)\n";
            return kExitUsage;
        }
        timeout = std::chrono::seconds(std::stoi(t));
    }
    if (o.given("--server") && o.value("--server").empty()) {
        err << "zorvane: --server needs HOST or HOST:PORT\n";
        return kExitUsage;
    }
    std::string server = server_or_default(o.value("--server"));
    bool tls = false;  // the same server's directory serves TLS and clear text
    {
        std::string host;
        std::uint16_t port = 0;
        if (!Core_SOAPClient::parse_server_address(server, 8080, host, port, &tls)) {
            err << "zorvane: the server needs HOST, HOST:PORT or [IPV6]:PORT (tls:// before it "
                   "for TLS), the port a number from 1 to 65535\n";
            return kExitUsage;
        }
        server = (host.find(':') == std::string::npos ? host : "[" + host + "]") + ":" +
                 std::to_string(port);
    }
    if (o.given("--tls-ca") && (!tls || !std::ifstream(o.value("--tls-ca")))) {
        err << "zorvane: "
            << (tls ? "cannot read the TLS CA file " + o.value("--tls-ca")
                    : std::string("--tls-ca needs a tls:// server"))
            << "\n";
        return kExitUsage;
    }

    // The account's own directory unless one is given.
    std::string data_dir = o.value("--data-dir");
    if (data_dir.empty()) {
        data_dir = default_data_directory(o.value("--user"), server, error);
        if (data_dir.empty()) {
            err << "zorvane: " << error << "\n";
            return kExitFailure;
        }
    }
    // An action that talks to the server or writes the note must be able to
    // keep its record: without one every sync would be a first sync, and a
    // bookmark deleted from the file would come back. Nothing is sent before
    // the directory is there and takes a file.
    const bool writes = command == "update" || command == "sync" || command == "overwrite" ||
                        (command == "note" && note_action == "set");
    if (writes && !prepare_data_directory(data_dir, error)) {
        err << "zorvane: " << error << "\n";
        return kExitFailure;
    }

    std::string password;
    if (o.given("--password-env")) {
        if (!Core_Platform::environment_value(o.value("--password-env"), password)) {
            err << "zorvane: environment variable " << o.value("--password-env") << " is not set\n";
            return kExitUsage;
        }
    } else if (o.has("--password-stdin")) {
        if (!std::getline(in, password)) {
            err << "zorvane: no password on standard input\n";
            return kExitUsage;
        }
        if (!password.empty() && password.back() == '\r') password.pop_back();
    }
    const bool needs_password = command != "note" && command != "wipe";
    if (needs_password && password.empty()) {
        err << "zorvane: " << command << " needs the password (--password-env VAR or "
            << "--password-stdin)\n";
        return kExitUsage;
    }

    const std::string format = o.given("--format") ? o.value("--format") : "xml";
    if (format != "xml" && format != "html") {
        err << "zorvane: --format is xml or html\n";
        return kExitUsage;
    }
    const bool html = format == "html";

    std::string component = o.value("--component");
    if (component.empty()) {
        std::string exe = Core_Platform::host_executable_path();
        const auto slash = exe.rfind('/');
        component = (slash == std::string::npos ? std::string(".") : exe.substr(0, slash)) +
                    "/../lib/libzorvane_component.so";
    }

    host_session s(err);
    if (!s.pass_settings((tls ? "tls://" : "") + server, o.has("--log"), timeout,
                         o.value("--tls-ca")))
        return kExitFailure;

    // The tree file is read on a thread of its own while the component loads
    // and reads the data directory's record (for a large collection each
    // takes a good part of a second, and they share nothing); it is taken
    // before anything is sent or written.
    std::future<tree_file_t> tree_file;
    if (needs_tree) tree_file = read_tree_file_async(o.value("--tree"), html);
    std::string document;
    zorvane_node_t browser_tree;
    auto take_tree_file = [&]() {
        if (!tree_file.valid()) return true;
        tree_file_t file = tree_file.get();
        if (!file.ok) {
            err << file.errors;
            return false;
        }
        document = std::move(file.document);
        browser_tree = std::move(file.tree);
        return true;
    };
    const bool opened = s.open(component, data_dir, o.value("--user"), password);
    if (!opened) {
        take_tree_file();  // its complaint, if any, is reported too
        return kExitFailure;
    }
    // Only a sync or an overwrite has something to do before it needs the
    // tree file.
    if (command != "sync" && command != "overwrite" && !take_tree_file()) return kExitFailure;
    IZorvaneExtension* ext = s.extension();
    std::string result;

    if (command == "status") {
        nsString user, status;
        std::int32_t verified = 0;
        s.info()->getUserName(user);
        s.info()->getVerified(&verified);
        s.info()->getStatus(status);
        out << "user=" << text_of(user) << "\n"
            << "data_dir=" << data_dir << "\n"
            << "verified=" << verified << "\n"
            << "version=" << s.version() << "\n"
            << "date=" << s.date() << "\n"
            << "status=" << text_of(status) << "\n";
        return kExitOk;
    }
    if (command == "update") {
        if (s.version() == -1) {
            ext->update();
            if (!run_action(s, ZORVANE_UPDATE_TOPIC, timeout, result, err)) return kExitTimeout;
        } else {
            // A record is stored already: handing its own tree to a sync
            // changes nothing locally and brings in any newer server tree.
            {
                // The component reads it into its own tree at once.
                std::optional<nsString> stored;
                s.tree_text(stored);
                ext->sync(*stored);
            }
            if (!run_action(s, ZORVANE_SYNC_TOPIC, timeout, result, err)) return kExitTimeout;
        }
        // An account without bookmarks is up to date, as for a first sync;
        // there is no record to show (version=-1).
        if (result == kNoRecord && s.version() == -1) {
            err << "zorvane: the account holds no bookmarks yet\n";
            result = kOk;
        }
        out << "result=" << result << "\n";
        if (result != kOk) {
            explain_failure(result, err, s.failure());
            return kExitFailure;
        }
        {
            std::optional<nsString> stored;
            s.tree_text(stored);
            print_record(s, nodes_in_document(stored->view()), out);
        }
        return kExitOk;
    }
    if (command == "sync" || command == "overwrite") {
        const bool first = s.version() == -1;
        // With a record, the stored tree is fetched for the guard while the
        // tree file may still be being read.
        std::optional<nsString> last_document;
        if (!first) s.tree_text(last_document);
        if (!take_tree_file()) return kExitFailure;
        // Refused before anything is sent (the first sync's update
        // included) or written.
        if (document.size() > Core_Common::max_tree_bytes) {
            say_too_large("the bookmark tree of " + o.value("--tree"), document.size(), err);
            out << "result=" << kTooLarge << "\n";
            return kExitFailure;
        }
        if (!bring_in_account(s, timeout, result, err)) return kExitTimeout;
        if (result != kOk) {
            out << "result=" << result << "\n";
            explain_failure(result, err, s.failure());
            return kExitFailure;
        }
        // The update brought a tree in (a new version): the account holds one.
        const bool merge_first = command == "sync" && first && s.version() > 0;
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
            const auto pending = [&] {
                return local_changes_pending(data_dir, o.value("--user"), password);
            };
            if (!guard_allows(last, document, browser_tree, o.has("--allow-mass-delete"),
                              command.c_str(), pending, err)) {
                out << "result=refused\n";
                return kExitFailure;
            }
            if (!last.empty()) nodes_before = nodes_in_document(last);
            last_document.reset();
        }
        const char* topic = command == "sync" ? ZORVANE_SYNC_TOPIC : ZORVANE_OVERWRITE_TOPIC;
        // The component reads what it is handed into its own tree; the
        // host's forms go as soon as the next one exists.
        browser_tree = zorvane_node_t();
        {
            const wide_document handed(document);
            std::string().swap(document);
            if (command == "sync") {
                ext->sync(handed.text());
            } else {
                ext->overwrite(handed.text());
            }
        }
        if (!run_action(s, topic, timeout, result, err)) return kExitTimeout;
        out << "result=" << result << "\n";
        if (result == kTooLarge) say_too_large("the merged bookmark tree", 0, err);
        if (result != kOk) {
            explain_failure(result, err, s.failure());
            return kExitFailure;
        }
        if (!o.given("--out")) {
            // A sync that kept the version kept the stored tree (a new tree
            // always comes with a new version): its nodes were counted
            // before, without fetching the tree again.
            const bool kept = command == "sync" && nodes_before && version_before > 0 &&
                              s.version() == version_before;
            std::size_t nodes = nodes_before.value_or(0);
            if (!kept) {
                std::optional<nsString> stored;
                s.tree_text(stored);
                nodes = nodes_in_document(stored->view());
            }
            print_record(s, nodes, out);
            return kExitOk;
        }
        const stored_tree_t synced = stored_tree(s);
        print_record(s, node_count(synced.tree), out);
        if (!write_file(o.value("--out"), html, synced.document, synced.tree, err))
            return kExitFailure;
        return kExitOk;
    }
    if (command == "export") {
        const stored_tree_t stored = stored_tree(s);
        if (stored.document.empty()) {
            err << "zorvane: no synchronised tree for " << o.value("--user") << " in " << data_dir
                << "\n";
            return kExitFailure;
        }
        if (!write_file(o.value("--out"), html, stored.document, stored.tree, err))
            return kExitFailure;
        print_record(s, node_count(stored.tree), out);
        return kExitOk;
    }
    if (command == "note") {
        nsCOMPtr<IZorvaneLocalNote> note;
        ext->getLocalNote(note.receive());
        if (note_action == "get") {
            nsString text;
            note->getNote(text);
            out << text_of(text);
        } else if (note_action == "set") {
            std::string text((std::istreambuf_iterator<char>(in)),
                             std::istreambuf_iterator<char>());
            note->setNote(nsString(wide(text)));
        } else {
            note->deleteNote();
        }
        return kExitOk;
    }
    if (command == "forget") {
        ext->forgetUser();
        out << "result=OK\n";
        return kExitOk;
    }
    if (command == "wipe") {
        ext->deleteLocalData();
        out << "result=OK\n";
        return kExitOk;
    }
    if (command == "roots-unchanged") {
        std::int32_t unchanged = 0;
        ext->rootsUnchanged(wide_document(document).text(), &unchanged);
        out << "unchanged=" << unchanged << "\n";
        return kExitOk;
    }
    // merge-browser-tree, import-foreign-tree: the stored tree changed in
    // memory, written out; the data directory keeps the synchronised record.
    if (s.tree().empty()) {
        err << "zorvane: no synchronised tree for " << o.value("--user") << " in " << data_dir
            << "\n";
        return kExitFailure;
    }
    if (command == "merge-browser-tree") {
        ext->mergeBrowserTree(wide_document(document).text());
    } else {
        ext->importForeignTree(wide_document(document).text());
    }
    const stored_tree_t merged = stored_tree(s);
    if (o.given("--out")) {
        return write_file(o.value("--out"), html, merged.document, merged.tree, err) ? kExitOk
                                                                                     : kExitFailure;
    }
    out << (html ? write_bookmarks_html(merged.tree) : merged.document);
    return kExitOk;
}

}  // namespace Zorvane_Cli
