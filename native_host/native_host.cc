#include "native_host.h"

#include <libxml/parser.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <future>
#include <memory>
#include <nlohmann/json.hpp>
#include <optional>
#include <set>
#include <thread>
#include <unordered_map>
#include <vector>

#include "bookmarks/tree_compare.h"
#include "bookmarks/tree_xml.h"
#include "bookmarks/url_forms.h"
#include "browser_view.h"
#include "common/whole_file.h"
#include "data_directory.h"
#include "host_session.h"
#include "mass_delete_guard.h"
#include "native_messages.h"
#include "password_store.h"
#include "platform/environment.h"
#include "platform/file_ops.h"
#include "platform/strings.h"

namespace Zorvane_Native {
namespace {

using json = nlohmann::json;
using Core_ZorvaneMerge::zorvane_node_t;

constexpr const char* kOk = "OK";
// The most nodes one browser tree may have.
constexpr std::size_t kMaxNodes = 2000000;
// What a page of operations or of the tree document may take, leaving room
// for the envelope around it.
constexpr std::size_t kPageBytes = kMessageBudget - 4096;

std::string dump(const json& j) { return j.dump(-1, ' ', false, json::error_handler_t::replace); }

// A call's fault, answered as {"error": {code, message}}.
struct call_error {
    std::string code;
    std::string message;
};

bool valid_profile(const std::string& p) {
    if (p.size() < 8 || p.size() > 64) return false;
    for (char c : p) {
        if (!((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
              c == '-' || c == '_'))
            return false;
    }
    return true;
}

std::string text_param(const json& params, const char* name, bool required = true) {
    auto it = params.find(name);
    if (it == params.end() || it->is_null()) {
        if (required) throw call_error{"bad_params", std::string("missing \"") + name + "\""};
        return std::string();
    }
    if (!it->is_string())
        throw call_error{"bad_params", std::string("\"") + name + "\" is no text"};
    return it->get<std::string>();
}

bool bool_param(const json& params, const char* name) {
    auto it = params.find(name);
    return it != params.end() && it->is_boolean() && it->get<bool>();
}

std::size_t offset_param(const json& params) {
    auto it = params.find("offset");
    if (it == params.end()) return 0;
    if (!it->is_number_unsigned()) throw call_error{"bad_params", "\"offset\" is no count"};
    return it->get<std::size_t>();
}

int kind_of(const std::string& k) {
    if (k == "f") return Core_ZorvaneMerge::NODE_FOLDER;
    if (k == "b") return Core_ZorvaneMerge::NODE_BOOKMARK;
    if (k == "s") return Core_ZorvaneMerge::NODE_SEPARATOR;
    if (k == "q") return Core_ZorvaneMerge::NODE_QUERY;
    return Core_ZorvaneMerge::NODE_NONE;
}

const char* kind_name(int kind) {
    if (kind == Core_ZorvaneMerge::NODE_FOLDER) return "folder";
    if (kind == Core_ZorvaneMerge::NODE_SEPARATOR) return "separator";
    return "bookmark";
}

json operation_json(const operation_t& op) {
    switch (op.op) {
        case operation_t::CREATE: {
            json j = {{"o", "create"},
                      {"ref", op.key},
                      {"parent", op.parent},
                      {"index", op.index},
                      {"kind", kind_name(op.kind)}};
            if (op.kind != Core_ZorvaneMerge::NODE_SEPARATOR)
                j["title"] = Core_Platform::wide_to_utf8(op.title);
            if (!op.url.empty()) j["url"] = op.url;
            return j;
        }
        case operation_t::UPDATE: {
            json j = {
                {"o", "update"}, {"id", op.key}, {"title", Core_Platform::wide_to_utf8(op.title)}};
            if (!op.url.empty()) j["url"] = op.url;
            return j;
        }
        case operation_t::MOVE:
            return {{"o", "move"}, {"id", op.key}, {"parent", op.parent}, {"index", op.index}};
        case operation_t::REMOVE:
            return {{"o", "remove"}, {"id", op.key}, {"tree", op.tree}};
    }
    return json();
}

enum class action_enum { none, first_update, update, sync, overwrite };

}  // namespace

struct native_host::state {
    std::function<void(const std::string&)> send;
    std::ostream& log;
    std::string component;

    // After open.
    std::unique_ptr<Zorvane_Cli::host_session> session;
    password_key_t account;
    std::string ids_path;
    int lock = -1;  // holds the account directory's lock while open

    // The browser's tree being sent, and the last one sent whole.
    browser_enum browser = browser_enum::firefox;
    std::vector<browser_record_t> incoming;
    bool receiving = false;
    std::optional<std::vector<browser_record_t>> records;
    // The tree of `records`, as read when it came, until first used.
    std::optional<std::pair<view_node_t, layout_t>> parsed;

    // The identity table and the browser's fixed folders, as last saved.
    // Read from its file when first needed: a sync with nothing new on
    // either side needs none of it.
    id_table_t table;
    layout_t layout;
    bool have_layout = false;
    bool table_loaded = false;
    bool table_dirty = false;

    // The running action.
    action_enum action = action_enum::none;
    json action_id;
    std::string mode;  // sync and overwrite: ask, delete or keep
    bool unchanged = false;

    // What the last sync left for the browser.
    view_node_t current;
    std::int32_t version_before = -1;
    bool same_as_stored = false;  // the tree handed over was the stored one
    // The browser may not show the stored tree: a sync's operations went
    // out and the browser's tree was not found equal since. Kept in a file
    // of the account's directory, so the next host sees it.
    bool applying = false;
    std::string apply_mark;
    bool resuming = false;  // this sync goes on with an interrupted apply
    // The stored tree's text, taken as soon as the account opened (while
    // the browser reads its own tree), and the tree it reads as, read on a
    // thread of its own from beginTree on, while the browser's tree comes
    // in. It stands for the stored tree until the next call into the
    // engine other than a getter (engine() drops it): only such a call
    // changes the stored tree.
    struct stored_text_t {
        std::optional<nsString> text;
        std::future<zorvane_node_t> tree;  // waited for before `text` goes
        ~stored_text_t() {
            if (tree.valid()) tree.wait();
        }
    };
    std::unique_ptr<stored_text_t> stored_text;
    // An unchanged sync's document as the engine gave it, until the sync ends.
    std::unique_ptr<stored_text_t> handed_doc;
    std::vector<operation_t> operations;

    state(std::function<void(const std::string&)> s, std::ostream& l, std::string c)
        : send(std::move(s)), log(l), component(std::move(c)) {}
    ~state() {
        stored_text.reset();
        handed_doc.reset();
        session.reset();
        if (lock >= 0) Core_Platform::file_close(lock);
    }

    // An answer the browsers would not take becomes an error, so the call
    // never goes unanswered.
    void reply(const json& id, json result) {
        json out = {{"id", id}, {"result", std::move(result)}};
        std::string text = dump(out);
        if (text.size() > kMaxOutgoing)
            return fail(id, "too_large",
                        "the answer takes " + std::to_string(text.size()) +
                            " bytes, more than the " + std::to_string(kMaxOutgoing) +
                            " of one message to the browser");
        send(text);
    }
    void fail(const json& id, const std::string& code, const std::string& message) {
        json out = {{"id", id}, {"error", {{"code", code}, {"message", message}}}};
        send(dump(out));
    }

    IZorvaneExtension* ext() {
        if (!session) throw call_error{"not_open", "call open first"};
        return session->extension();
    }
    // The extension object for a call that may change the stored tree.
    IZorvaneExtension* engine() {
        IZorvaneExtension* e = ext();
        stored_text.reset();
        return e;
    }
    // The stored tree's text: the one taken at open when it still stands,
    // otherwise asked for now.
    std::unique_ptr<stored_text_t> take_stored_text() {
        if (stored_text) return std::move(stored_text);
        auto taken = std::make_unique<stored_text_t>();
        session->tree_text(taken->text);
        return taken;
    }

    zorvane_node_t stored_tree() {
        std::optional<nsString> text;
        session->tree_text(text);
        return tree_of(*text);
    }
    // The tree of a text the engine gave.
    static zorvane_node_t tree_of(const nsString& text) {
        zorvane_node_t t;
        Core_ZorvaneMerge::read_tree(Core_Platform::wide_to_utf8(text.view()), t);
        return t;
    }

    // --- the identity table file -------------------------------------------

    void load_table() {
        std::string text;
        table.clear();
        have_layout = false;
        if (!Core_Common::read_whole_file(Core_Platform::utf8_to_wide(ids_path), text)) return;
        json j = json::parse(text, nullptr, false);
        if (!j.is_object()) {
            log << "zorvane-native-host: " << ids_path << " does not read; matching by content\n";
            return;
        }
        try {
            layout = layout_t();
            layout.browser = j.value("browser", "") == "chromium" ? browser_enum::chromium
                                                                  : browser_enum::firefox;
            layout.root_id = j.at("root").get<std::string>();
            layout.slots = j.at("slots").get<std::map<std::string, std::string>>();
            layout.mobile_root_used = j.value("mobileRootUsed", false);
            layout.stand_ins = j.value("standIns", std::vector<std::string>());
            layout.refused = j.value("refused", std::map<std::string, std::string>());
            table = j.at("ids").get<id_table_t>();
            have_layout = true;
        } catch (const json::exception&) {
            table.clear();
            log << "zorvane-native-host: " << ids_path << " does not read; matching by content\n";
        }
    }

    void ensure_table() {
        if (table_loaded) return;
        table_loaded = true;
        load_table();
    }

    void save_table() {
        if (!table_dirty || ids_path.empty()) return;
        json j = {{"browser", layout.browser == browser_enum::chromium ? "chromium" : "firefox"},
                  {"root", layout.root_id},
                  {"slots", layout.slots},
                  {"mobileRootUsed", layout.mobile_root_used},
                  {"standIns", layout.stand_ins},
                  {"refused", layout.refused},
                  {"ids", table}};
        if (Core_Platform::path_kind(ids_path) == Core_Platform::path_kind_enum::missing) {
            const int fd = Core_Platform::file_create_new(ids_path, 0600);
            if (fd >= 0) Core_Platform::file_close(fd);
        }
        if (Core_Common::write_whole_file(Core_Platform::utf8_to_wide(ids_path), dump(j))) {
            table_dirty = false;
        } else {
            log << "zorvane-native-host: cannot write " << ids_path << "\n";
        }
    }

    // --- calls ---------------------------------------------------------------

    password_key_t account_of(const json& params) {
        password_key_t key;
        key.profile = text_param(params, "profile");
        if (!valid_profile(key.profile))
            throw call_error{"bad_params", "the profile is 8 to 64 letters, digits, - or _"};
        key.user = text_param(params, "user");
        if (key.user.empty() || key.user.size() > 256)
            throw call_error{"bad_params", "the user name is 1 to 256 bytes"};
        const std::string server = text_param(params, "server", false);
        if (server.size() > 256) throw call_error{"bad_params", "the server name is too long"};
        key.server = Zorvane_Cli::server_or_default(server);
        const std::string base = Core_Platform::user_data_home();
        if (base.empty()) throw call_error{"no_home", "no home directory is known"};
        key.directory = base + "/zorvane/browser/" + key.profile + "/" +
                        Zorvane_Cli::account_directory_name(key.user, key.server);
        std::string error;
        if (!Zorvane_Cli::prepare_data_directory(key.directory, error))
            throw call_error{"data_directory", error};
        return key;
    }

    json status_json() {
        IZorvaneInfo* info = session->info();
        nsString user, status;
        std::int32_t verified = 0;
        info->getUserName(user);
        info->getVerified(&verified);
        info->getStatus(status);
        const std::int32_t version = session->version();
        return {{"user", Core_Platform::wide_to_utf8(user.view())},
                {"server", account.server},
                {"verified", verified != 0},
                {"version", version},
                {"date", session->date()},
                {"status", Core_Platform::wide_to_utf8(status.view())},
                {"first", version == -1},
                {"known", have_layout},
                {"applying", applying}};
    }

    // Answers one call: the method's member, or unknown_method.
    void call(const json& id, const std::string& method, const json& params) {
        using answer_t = void (state::*)(const json&, const json&);
        static const std::unordered_map<std::string, answer_t> methods = {
            {"setAccount", &state::set_account},
            {"open", &state::open_account},
            {"beginTree", &state::begin_tree},
            {"addNodes", &state::add_nodes},
            {"endTree", &state::end_tree},
            {"status", &state::report_status},
            {"operations", &state::page_of_operations},
            {"tree", &state::page_of_tree},
            {"verify", &state::verify},
            {"note", &state::local_note},
            {"forget", &state::forget},
            {"wipe", &state::wipe},
            {"cancel", &state::cancel},
            {"rootsUnchanged", &state::roots_unchanged},
            {"mergeBrowserTree", &state::merge_browser_tree},
            {"importForeignTree", &state::import_foreign_tree},
            {"update", &state::update},
            {"sync", &state::sync},
            {"overwrite", &state::overwrite},
        };
        auto it = methods.find(method);
        if (it == methods.end()) throw call_error{"unknown_method", "no method \"" + method + "\""};
        (this->*(it->second))(id, params);
    }

    void set_account(const json& id, const json& params) {
        password_key_t key = account_of(params);
        const std::string password = text_param(params, "password");
        if (password.empty() || password.size() > 1024)
            throw call_error{"bad_params", "the password is 1 to 1024 bytes"};
        std::string where, error;
        if (!store_password(key, password, where, error)) throw call_error{"password", error};
        reply(id, {{"stored", where}});
    }

    void open_account(const json& id, const json& params) {
        if (session) throw call_error{"already_open", "this port has its account open"};
        password_key_t key = account_of(params);
        std::string password;
        if (!load_password(key, password))
            throw call_error{"no_password", "no password is kept for " + key.user};
        // One host per account directory at a time: a host whose port
        // closed may still be seeing its sync through. `wait` (seconds,
        // at most 70, the default) is how long this one waits for it.
        std::int64_t wait = 70;
        if (auto w = params.find("wait"); w != params.end()) {
            if (!w->is_number_unsigned() || w->get<std::int64_t>() > 70)
                throw call_error{"bad_params", "\"wait\" is 0 to 70 seconds"};
            wait = w->get<std::int64_t>();
        }
        lock_account(key.directory, wait);
        auto s = std::make_unique<Zorvane_Cli::host_session>(log, "zorvane-native-host");
        if (!s->pass_settings(key.server, false) ||
            !s->open(component, key.directory, key.user, password)) {
            Core_Platform::file_close(lock);
            lock = -1;
            throw call_error{"component", "the engine does not start (see the log)"};
        }
        session = std::move(s);
        account = key;
        ids_path = key.directory + "/browser_ids.json";
        // Read when a call needs it; that it exists says the browser is known.
        table_loaded = false;
        have_layout = Core_Platform::path_kind(ids_path) == Core_Platform::path_kind_enum::regular;
        apply_mark = key.directory + "/apply_pending";
        applying = Core_Platform::path_kind(apply_mark) == Core_Platform::path_kind_enum::regular;
        reply(id, status_json());
        // The browser now reads its tree, which takes a while.
        if (session->version() != -1) {
            stored_text = std::make_unique<stored_text_t>();
            session->tree_text(stored_text->text);
        }
    }

    // Takes the account directory's lock into `lock`, waiting up to `wait`
    // seconds for the host that holds it.
    void lock_account(const std::string& directory, std::int64_t wait) {
        const std::string lock_path = directory + "/.lock";
        if (Core_Platform::path_kind(lock_path) == Core_Platform::path_kind_enum::missing) {
            const int fd = Core_Platform::file_create_new(lock_path, 0600);
            if (fd >= 0) Core_Platform::file_close(fd);
        }
        lock = Core_Platform::file_open(lock_path, false);
        if (lock < 0)
            throw call_error{"data_directory",
                             "cannot open " + lock_path + ": " + std::strerror(errno)};
        const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(wait);
        while (!Core_Platform::file_try_lock(lock)) {
            if (std::chrono::steady_clock::now() >= until) {
                Core_Platform::file_close(lock);
                lock = -1;
                throw call_error{"busy",
                                 "another zorvane-native-host has this account open (a sync "
                                 "of it runs); try again when it ends"};
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
        }
    }

    void begin_tree(const json& id, const json& params) {
        const std::string b = text_param(params, "browser");
        if (b != "chromium" && b != "firefox")
            throw call_error{"bad_params", "\"browser\" is chromium or firefox"};
        browser = b == "chromium" ? browser_enum::chromium : browser_enum::firefox;
        incoming.clear();
        receiving = true;
        parsed.reset();
        reply(id, {{"received", 0}});
        if (stored_text && !stored_text->tree.valid()) {
            xmlInitParser();
            stored_text->tree = std::async(std::launch::async,
                                           [text = &*stored_text->text] { return tree_of(*text); });
        }
    }

    void add_nodes(const json& id, const json& params) {
        if (!receiving) throw call_error{"bad_order", "addNodes before beginTree"};
        auto it = params.find("nodes");
        if (it == params.end() || !it->is_array())
            throw call_error{"bad_params", "\"nodes\" is a list"};
        if (incoming.size() + it->size() > kMaxNodes)
            throw call_error{"too_large", "more than " + std::to_string(kMaxNodes) + " nodes"};
        for (const json& n : *it) incoming.push_back(record_of(n));
        reply(id, {{"received", incoming.size()}});
    }

    // One node of addNodes: [id, parent, kind, title, url, added, root].
    static browser_record_t record_of(const json& n) {
        if (!n.is_array() || n.size() != 7 || !n[0].is_string() || !n[1].is_string() ||
            !n[2].is_string() || !n[3].is_string() || !n[4].is_string() || !n[5].is_number() ||
            !n[6].is_string())
            throw call_error{"bad_params", "a node is [id, parent, kind, title, url, added, root]"};
        browser_record_t r;
        r.id = n[0].get<std::string>();
        r.parent_id = n[1].get<std::string>();
        r.kind = kind_of(n[2].get<std::string>());
        if (r.kind == Core_ZorvaneMerge::NODE_NONE)
            throw call_error{"bad_params", "a node's kind is f, b, s or q"};
        r.title = Core_Platform::utf8_to_wide(n[3].get<std::string>());
        r.url = n[4].get<std::string>();
        r.date_added_ms = n[5].is_number_integer() ? n[5].get<std::int64_t>() : 0;
        r.root = n[6].get<std::string>();
        return r;
    }

    void end_tree(const json& id, const json&) {
        if (!receiving) throw call_error{"bad_order", "endTree before beginTree"};
        receiving = false;
        parsed.reset();
        view_node_t view;
        layout_t l;
        std::string error;
        if (!read_records(incoming, browser, view, l, error)) {
            incoming.clear();
            throw call_error{"bad_tree", error};
        }
        parsed.emplace(std::move(view), std::move(l));
        records = std::move(incoming);
        incoming = {};
        reply(id, {{"nodes", records->size()}});
    }

    void report_status(const json& id, const json&) {
        ext();
        reply(id, status_json());
    }

    void page_of_tree(const json& id, const json& params) {
        ext();
        const std::string doc = session->tree();
        const std::size_t offset = offset_param(params);
        if (offset > doc.size()) throw call_error{"bad_params", "offset past the end"};
        // Whole UTF-8 characters per page.
        std::size_t end = std::min(doc.size(), offset + kPageBytes / 2);
        while (end < doc.size() && (static_cast<unsigned char>(doc[end]) & 0xC0) == 0x80) --end;
        json r = {{"text", doc.substr(offset, end - offset)}};
        r["next"] = end < doc.size() ? json(end) : json(nullptr);
        reply(id, r);
    }

    void verify(const json& id, const json&) {
        ext();
        zorvane_node_t synced = stored_tree();
        view_node_t view = browser_view(synced);
        const zorvane_node_t built = to_engine(view, layout, synced);
        remember(view);
        const bool equal = Core_ZorvaneMerge::trees_equal(built, synced);
        if (equal) mark_applying(false);
        reply(id, {{"equal", equal}});
    }

    void local_note(const json& id, const json& params) {
        nsCOMPtr<IZorvaneLocalNote> note;
        ext()->getLocalNote(note.receive());
        const std::string what = text_param(params, "action");
        if (what == "get") {
            nsString text;
            note->getNote(text);
            return reply(id, {{"text", Core_Platform::wide_to_utf8(text.view())}});
        }
        if (what == "set") {
            const std::string text = text_param(params, "text");
            if (text.size() > kPageBytes) throw call_error{"too_large", "the note is too long"};
            note->setNote(nsString(Core_Platform::utf8_to_wide(text)));
            return reply(id, {{"ok", true}});
        }
        if (what == "delete") {
            note->deleteNote();
            return reply(id, {{"ok", true}});
        }
        throw call_error{"bad_params", "\"action\" is get, set or delete"};
    }

    void forget(const json& id, const json&) {
        if (action != action_enum::none) throw call_error{"busy", "an action runs"};
        engine()->forgetUser();
        forget_password(account);
        drop_table();
        reply(id, {{"ok", true}});
    }

    void wipe(const json& id, const json&) {
        if (action != action_enum::none) throw call_error{"busy", "an action runs"};
        engine()->deleteLocalData();
        drop_table();
        reply(id, {{"ok", true}});
    }

    // The identity table and its file go, with the refusals it kept.
    void drop_table() {
        Core_Platform::file_unlink(ids_path);
        table.clear();
        layout.refused.clear();
        table_loaded = true;
        have_layout = false;
        table_dirty = false;
    }

    void cancel(const json& id, const json&) {
        engine()->cancel();
        if (action != action_enum::none) fail(action_id, "cancelled", "the action was cancelled");
        action = action_enum::none;
        reply(id, {{"ok", true}});
    }

    void roots_unchanged(const json& id, const json&) {
        const Zorvane_Cli::wide_document handed(sent_tree_document());
        std::int32_t same = 0;
        ext()->rootsUnchanged(handed.text(), &same);
        reply(id, {{"unchanged", same != 0}});
    }

    void merge_browser_tree(const json& id, const json&) {
        const Zorvane_Cli::wide_document handed(sent_tree_document());
        engine()->mergeBrowserTree(handed.text());
        reply(id, {{"nodes", session->tree_nodes()}});
    }

    void import_foreign_tree(const json& id, const json&) {
        const Zorvane_Cli::wide_document handed(sent_tree_document());
        engine()->importForeignTree(handed.text());
        reply(id, {{"nodes", session->tree_nodes()}});
    }

    // The browser's tree just sent, as the engine's document, for a call
    // that hands it over outside an action.
    std::string sent_tree_document() {
        ext();
        if (action != action_enum::none) throw call_error{"busy", "an action runs"};
        const zorvane_node_t stored = stored_tree();
        view_node_t view = browser_view(stored);
        std::string doc;
        Core_ZorvaneMerge::write_tree(to_engine(view, layout, stored), doc);
        return doc;
    }

    void update(const json& id, const json& params) {
        begin_action(id, params, action_enum::update);
    }
    void sync(const json& id, const json& params) { begin_action(id, params, action_enum::sync); }
    void overwrite(const json& id, const json& params) {
        begin_action(id, params, action_enum::overwrite);
    }

    // update, sync or overwrite: answered when the action ends.
    void begin_action(const json& id, const json& params, action_enum kind) {
        ext();
        if (action != action_enum::none) throw call_error{"busy", "an action runs"};
        mode = params.is_object() ? params.value("mode", "ask") : "ask";
        if (mode != "ask" && mode != "delete" && mode != "keep")
            throw call_error{"bad_params", "\"mode\" is ask, delete or keep"};
        unchanged = kind == action_enum::sync && bool_param(params, "unchanged");
        resuming = false;
        if (applying && kind == action_enum::sync) {
            // The browser's tree must be read: it may lack part of the
            // last sync. When the extension says the user did not edit
            // it since ("edited": false), the sync goes on with that
            // apply; otherwise the browser's tree is merged in, so
            // nothing it lacks is taken for a deletion.
            if (unchanged) return reply(id, {{"needTree", true}});
            auto edited = params.find("edited");
            if (edited != params.end() && edited->is_boolean() && !edited->get<bool>()) {
                resuming = true;
            } else if (mode == "ask") {
                mode = "keep";
            }
        }
        if (kind != action_enum::update && !unchanged && !records)
            throw call_error{"no_tree", "send the browser's tree first"};
        if (unchanged && (!have_layout || session->version() == -1))
            return reply(id, {{"needTree", true}});
        action_id = id;
        if (kind == action_enum::update) {
            action = action_enum::update;
            if (session->version() == -1) {
                engine()->update();
            } else {
                engine()->sync(Zorvane_Cli::wide_document(session->tree()).text());
            }
            return;
        }
        action = kind;
        if (session->version() == -1 && action == action_enum::sync) {
            // The account's tree first: nothing of it or of the browser's
            // is lost on a first sync.
            action = action_enum::first_update;
            engine()->update();
            return;
        }
        start(false);
    }

    // The browser's tree just sent, with engine identifiers, against `stored`.
    view_node_t browser_view(const zorvane_node_t& stored) {
        if (!records) throw call_error{"no_tree", "send the browser's tree first"};
        ensure_table();
        view_node_t view;
        layout_t l;
        if (parsed) {
            // Read when it came; used once.
            view = std::move(parsed->first);
            l = std::move(parsed->second);
            parsed.reset();
        } else {
            std::string error;
            if (!read_records(*records, browser, view, l, error))
                throw call_error{"bad_tree", error};
        }
        assign_guids(view, l, table, stored);
        l.refused = std::move(layout.refused);
        layout = std::move(l);
        return view;
    }

    void remember(const view_node_t& view) {
        table = table_of(view);
        have_layout = true;
        table_dirty = true;
        save_table();
    }

    // Hands the tree to the engine (the account's tree is current).
    void start(bool first) {
        version_before = session->version();
        if (unchanged) {
            // The browser shows the stored tree: hand it back as the engine
            // gave it, never converted; the browser's view of it is only
            // worked out when the server brought something new.
            handed_doc = take_stored_text();
            same_as_stored = true;
            engine()->sync(*handed_doc->text);
            return;
        }
        // The stored tree's text, kept: when the browser's tree is that
        // tree, the same text goes back to the engine, which knows it as its
        // own (no second writing of the document, no reading of it).
        const std::unique_ptr<stored_text_t> taken = take_stored_text();
        std::optional<nsString>& text = taken->text;
        const zorvane_node_t stored = taken->tree.valid() ? taken->tree.get() : tree_of(*text);
        const bool have_stored = stored.type != Core_ZorvaneMerge::NODE_NONE;
        current = browser_view(stored);
        if (resuming && have_stored) {
            // The browser was left part-way through the last sync's
            // operations, and the user changed nothing since: what it lacks
            // is no deletion. The stored tree goes to the engine as it is,
            // and the operations are planned from what the browser has.
            same_as_stored = true;
            engine()->sync(*text);
            return;
        }
        resuming = false;
        const zorvane_node_t built = to_engine(current, layout, stored);
        same_as_stored = have_stored && Core_ZorvaneMerge::trees_equal(built, stored);
        const bool merge = action == action_enum::sync && have_stored && (first || mode == "keep");
        if (!merge && have_stored && mode != "delete" && !same_as_stored) {
            const Zorvane_Cli::removal_count_t count = Zorvane_Cli::count_removals(stored, built);
            if (Zorvane_Cli::is_mass_delete(count)) {
                action = action_enum::none;
                return reply(
                    action_id,
                    {{"question", {{"removed", count.removed}, {"total", count.synchronised}}}});
            }
        }
        // Otherwise the stored tree's own text goes back as it is: no
        // writing and no conversion.
        if (!same_as_stored || merge) {
            text.reset();
            std::string doc;
            Core_ZorvaneMerge::write_tree(built, doc);
            if (merge) {
                same_as_stored = false;
                const Zorvane_Cli::wide_document handed(doc);
                engine()->mergeBrowserTree(handed.text());
                session->tree_text(text);
            } else {
                const Zorvane_Cli::wide_document handed(doc);
                hand_over(handed.text());
                return;
            }
        }
        hand_over(*text);
    }

    void hand_over(const nsAString& tree) {
        if (action == action_enum::overwrite) {
            engine()->overwrite(tree);
        } else {
            engine()->sync(tree);
        }
    }

    void finish_action(const std::string& result) {
        const action_enum was = action;
        action = action_enum::none;
        json r = {{"status", result}};
        if (result == kOk) {
            json st = status_json();
            r["version"] = st["version"];
            r["date"] = st["date"];
            if (was == action_enum::sync || was == action_enum::overwrite) {
                operations.clear();
                if (same_as_stored && session->version() == version_before && !resuming) {
                    // Nothing changed on either side: nothing to do in the
                    // browser, and the table holds every node already
                    // unless some were matched by content just now.
                    if (!unchanged && table_of(current) != table) remember(current);
                } else {
                    ensure_table();
                    const zorvane_node_t synced = stored_tree();
                    bool known = true;
                    if (unchanged && !handed_doc) {
                        known = false;
                    } else if (unchanged) {
                        zorvane_node_t before;
                        Core_ZorvaneMerge::read_tree(
                            Core_Platform::wide_to_utf8(handed_doc->text->view()), before);
                        current = to_view(before, layout, nullptr);
                        known = fill_ids(current, layout, table);
                    }
                    if (known) {
                        operations = plan_operations(current, to_view(synced, layout, &current));
                        if (!unchanged) remember(current);
                        mark_applying(!operations.empty());
                    } else {
                        // Ids the table lacks: the browser's tree must be read.
                        r["needTree"] = true;
                    }
                    r["nodes"] = Zorvane_Cli::node_count(synced);
                    forget_stale_refusals(synced);
                }
                handed_doc.reset();
                r["operations"] = operations.size();
            }
        }
        reply(action_id, r);
    }

    void mark_applying(bool on) {
        if (on == applying) return;
        if (on) {
            const int fd = Core_Platform::file_create_new(apply_mark, 0600);
            if (fd >= 0) Core_Platform::file_close(fd);
            applying = fd >= 0;
            if (!applying) log << "zorvane-native-host: cannot write " << apply_mark << "\n";
        } else {
            Core_Platform::file_unlink(apply_mark);
            applying = false;
        }
    }

    // A refusal stands while the account's node is what the browser
    // refused; one whose node went or changed is forgotten, so the browser
    // is asked again.
    void forget_stale_refusals(const zorvane_node_t& synced) {
        if (layout.refused.empty()) return;
        std::map<std::string, std::string> kept;
        std::function<void(const zorvane_node_t&)> walk = [&](const zorvane_node_t& n) {
            for (const zorvane_node_t& c : n.children) {
                auto it = layout.refused.find(c.guid);
                if (it != layout.refused.end() && it->second == refusal_key(c)) kept.insert(*it);
                walk(c);
            }
        };
        walk(synced);
        if (kept.size() != layout.refused.size()) {
            layout.refused = std::move(kept);
            table_dirty = true;
        }
    }

    // Takes note of the creates the browser refused (their engine
    // identifiers): those nodes stay on the account untouched by this
    // browser. A node whose parent was refused too is not noted, as it only
    // failed for want of its parent.
    void note_refusals(const json& refused) {
        if (!refused.is_array() || refused.empty()) return;
        std::unordered_map<std::string, const operation_t*> creates;
        for (const operation_t& op : operations)
            if (op.op == operation_t::CREATE) creates.emplace(op.key, &op);
        std::set<std::string> listed;
        for (const json& r : refused)
            if (r.is_string() && creates.count(r.get<std::string>()))
                listed.insert(r.get<std::string>());
        for (const std::string& guid : listed) {
            const operation_t& op = *creates.at(guid);
            if (op.parent.rfind('@', 0) == 0 && listed.count(op.parent.substr(1))) continue;
            zorvane_node_t node;
            node.type = op.kind;
            node.url = op.url.empty()
                           ? std::string()
                           : Core_ZorvaneMerge::to_stored_form(Core_Platform::utf8_to_wide(op.url));
            layout.refused[guid] = refusal_key(node);
            table_dirty = true;
            log << "zorvane-native-host: the browser refused a " << kind_name(op.kind)
                << "; it stays on the account as it is\n";
        }
    }

    void page_of_operations(const json& id, const json& params) {
        ext();
        ensure_table();
        if (auto refused = params.find("refused"); refused != params.end()) note_refusals(*refused);
        auto created = params.find("created");
        if (created != params.end() && created->is_object()) {
            for (const auto& [guid, browser_id] : created->items()) {
                if (!browser_id.is_string()) continue;
                table[browser_id.get<std::string>()] = guid;
                table_dirty = true;
            }
        }
        std::size_t offset = offset_param(params);
        if (offset > operations.size()) throw call_error{"bad_params", "offset past the end"};
        // At most `limit` operations per page when given (0: as many as fit).
        std::size_t limit = SIZE_MAX;
        if (auto l = params.find("limit");
            l != params.end() && l->is_number_unsigned() && l->get<std::size_t>() > 0)
            limit = l->get<std::size_t>();
        json ops = json::array();
        std::size_t bytes = 0;
        while (offset < operations.size()) {
            json op = operation_json(operations[offset]);
            const std::size_t size = dump(op).size() + 1;
            if ((bytes + size > kPageBytes || ops.size() >= limit) && !ops.empty()) break;
            // Alone on its page, and still too large.
            if (size > kMaxOutgoing - 4096) {
                const operation_t& big = operations[offset];
                throw call_error{"too_large",
                                 "the bookmark \"" +
                                     Core_Platform::wide_to_utf8(big.title).substr(0, 80) +
                                     "\" on the account takes " + std::to_string(size) +
                                     " bytes, more than one message to the browser carries; "
                                     "remove it or shorten its address elsewhere"};
            }
            bytes += size;
            ops.push_back(std::move(op));
            ++offset;
        }
        if (offset == operations.size()) save_table();
        json r = {{"ops", std::move(ops)}, {"total", operations.size()}};
        r["next"] = offset < operations.size() ? json(offset) : json(nullptr);
        reply(id, r);
    }

    void on_notification(const char* topic, const std::string& result) {
        send(dump({{"event", topic}, {"status", result}}));
        if (action == action_enum::first_update) {
            if (result != kOk && result != "zorvane.kernel.status.no_record") {
                action = action_enum::none;
                return reply(action_id, {{"status", result}});
            }
            action = action_enum::sync;
            try {
                start(true);
            } catch (const call_error& e) {
                action = action_enum::none;
                fail(action_id, e.code, e.message);
            }
            return;
        }
        if (action != action_enum::none) finish_action(result);
    }
};

native_host::native_host(std::function<void(const std::string&)> send, std::ostream& log,
                         std::string component_path)
    : m(std::make_unique<state>(std::move(send), log, std::move(component_path))) {}

native_host::~native_host() = default;

void native_host::handle(const std::string& message) {
    json id = nullptr;
    if (json_depth(message, kMaxJsonDepth) > kMaxJsonDepth) {
        return m->fail(
            id, "too_deep",
            "the message nests deeper than " + std::to_string(kMaxJsonDepth) + " levels");
    }
    json call = json::parse(message, nullptr, false);
    if (call.is_discarded()) return m->fail(id, "bad_json", "the message is no valid JSON");
    if (!call.is_object()) return m->fail(id, "bad_request", "a call is a JSON object");
    if (auto it = call.find("id"); it != call.end() && (it->is_number() || it->is_string()))
        id = *it;
    auto method = call.find("method");
    if (method == call.end() || !method->is_string())
        return m->fail(id, "bad_request", "a call names its \"method\"");
    json params = call.value("params", json::object());
    if (!params.is_object()) return m->fail(id, "bad_request", "\"params\" is an object");
    try {
        m->call(id, method->get<std::string>(), params);
    } catch (const call_error& e) {
        m->fail(id, e.code, e.message);
    } catch (const json::exception& e) {
        m->fail(id, "bad_params", e.what());
    }
}

void native_host::refuse(const std::string& why) { m->fail(nullptr, "bad_frame", why); }

bool native_host::pump() {
    if (!m->session) return false;
    if (m->action == action_enum::none) return false;
    m->session->extension()->processEvents();
    for (const char* topic : {ZORVANE_UPDATE_TOPIC, ZORVANE_SYNC_TOPIC, ZORVANE_OVERWRITE_TOPIC}) {
        std::string result;
        if (m->session->take(topic, result)) m->on_notification(topic, result);
    }
    return m->action != action_enum::none;
}

bool native_host::busy() const { return m->action != action_enum::none; }

void native_host::finish() { m->save_table(); }

}  // namespace Zorvane_Native
