#include "operator_command.h"

#include <charconv>
#include <cstdlib>
#include <iomanip>
#include <iostream>
#include <memory>

#include "log_text.h"
#include "password_hash.h"
#include "platform/strings.h"
#include "postgres_store.h"
#include "programs/command_line.h"
#include "programs/password_input.h"
#include "serve_command.h"
#include "store_open.h"
#include "utc_time.h"

namespace Core_Server {
namespace {

constexpr const char* PROGRAM = "zorvane-server";
constexpr const char* STORE_ENV = "ZORVANE_STORE";

const char* const MAIN_HELP =
    "Usage: zorvane-server [--store URL] [--keep-versions N] COMMAND [ARGS]\n"
    "\n"
    "The bookmark-sync server and its operator commands.\n"
    "\n"
    "Commands:\n"
    "  serve              serve bookmark syncs (see serve --help)\n"
    "  user add NAME      create an account\n"
    "  user passwd NAME   change an account's password\n"
    "  user del NAME      delete an account and its stored bookmarks\n"
    "  user list          list the accounts with their latest version\n"
    "  history USER       list the kept versions of USER's bookmarks\n"
    "  restore USER VERSION\n"
    "                     store kept version VERSION again, as a new version\n"
    "  maintenance [on|off]\n"
    "                     show, or switch, maintenance mode of every server on the store\n"
    "\n"
    "Options:\n"
    "  --store URL        sqlite:PATH or postgresql://USER@HOST:PORT/DB\n"
    "                     (default: $ZORVANE_STORE, else sqlite:zorvane.db in the\n"
    "                     working directory). Give a PostgreSQL password through\n"
    "                     PGPASSWORD or ~/.pgpass, never in the URL.\n"
    "  --keep-versions N  versions of each account's bookmarks to keep (default 20)\n"
    "  -h, --help         show this help; COMMAND --help shows a command's help\n"
    "\n"
    "Exit status: 0 done, 1 the command failed, 2 bad command line or configuration.\n";

const char* const USER_HELP =
    "Usage: zorvane-server [--store URL] user add NAME    [--password-env VAR | --password-stdin]\n"
    "       zorvane-server [--store URL] user passwd NAME [--password-env VAR | --password-stdin]\n"
    "       zorvane-server [--store URL] user del NAME\n"
    "       zorvane-server [--store URL] user list\n"
    "\n"
    "Manage accounts. NAME is the user name clients sync with (UTF-8, compared\n"
    "exactly). The password is never given on the command line:\n"
    "  --password-env VAR  read it from environment variable VAR\n"
    "  --password-stdin    read it from the first line of standard input\n"
    "It is kept only as a salted scrypt hash.\n";

const char* const HISTORY_HELP =
    "Usage: zorvane-server [--store URL] history USER\n"
    "\n"
    "List the kept versions of USER's bookmarks, newest first: version, date\n"
    "(UTC), the client type that stored it, and its size in bytes.\n";

const char* const RESTORE_HELP =
    "Usage: zorvane-server [--store URL] restore USER VERSION\n"
    "\n"
    "Store kept version VERSION of USER's bookmarks again as a new version;\n"
    "clients fetch it with their next sync. History is never rewritten.\n";

const char* const MAINTENANCE_HELP =
    "Usage: zorvane-server [--store URL] maintenance [on|off]\n"
    "\n"
    "Without an argument, show whether maintenance mode is on. With one, switch\n"
    "it: every server on the same store answers MAINTENANCE to every request\n"
    "while it is on, within seconds of the switch.\n";

bool wants_help(const std::vector<std::string>& args) {
    for (const auto& a : args) {
        if (a == "--help" || a == "-h") return true;
    }
    return false;
}

struct context_t {
    std::string store_url;
    store_options_t options;
    std::istream& in;
    std::ostream& out;
    std::ostream& err;

    int usage(const std::string& command, const std::string& message) const {
        err << PROGRAM << ": " << command << ": " << message << " (see " << PROGRAM << " "
            << command << " --help)\n";
        return EXIT_USAGE;
    }
    int fail(const std::string& command, const std::string& message) const {
        err << PROGRAM << ": " << command << ": " << message << "\n";
        return EXIT_FAILED;
    }
    // Opens the store; on failure reports it and returns null.
    std::unique_ptr<InterfaceStore> open(const std::string& command, int& status) const {
        std::unique_ptr<InterfaceStore> store;
        auto result = open_store(store_url, options, store);
        if (!result.ok()) {
            err << PROGRAM << ": " << command << ": " << result.message << "\n";
            status = EXIT_USAGE;
        }
        return store;
    }
};

bool parse_int(const std::string& text, int& value) {
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    return ec == std::errc() && end == text.data() + text.size();
}

// Reads the password as the options in `args` (after NAME) say.
bool read_password(const context_t& ctx, const std::string& command,
                   const std::vector<std::string>& args, std::string& password, int& status) {
    const Zorvane_Programs::option_set_t options = {{Zorvane_Programs::kPasswordEnvOption},
                                                    {Zorvane_Programs::kPasswordStdinOption}};
    Zorvane_Programs::command_line_t line;
    Zorvane_Programs::command_line_error_t fault;
    if (!Zorvane_Programs::parse_command_line(args, options, line, fault)) {
        status = ctx.usage(command, fault.text());
        return false;
    }
    if (!line.operands.empty()) {
        status = ctx.usage(command, "unexpected argument \"" + line.operands[0] + "\"");
        return false;
    }
    const Zorvane_Programs::password_result_t read =
        Zorvane_Programs::read_password(line, ctx.in, password);
    switch (read.outcome) {
        case Zorvane_Programs::password_outcome_enum::READ:
            break;
        case Zorvane_Programs::password_outcome_enum::NOT_GIVEN:
        case Zorvane_Programs::password_outcome_enum::BOTH_GIVEN:
            status = ctx.usage(command, Zorvane_Programs::kOnePasswordSource);
            return false;
        case Zorvane_Programs::password_outcome_enum::NOT_SET:
        case Zorvane_Programs::password_outcome_enum::NO_INPUT:
            status = ctx.fail(command, read.message);
            return false;
    }
    if (password.empty()) {
        status = ctx.fail(command, "the password is empty");
        return false;
    }
    return true;
}

int user_command(const context_t& ctx, const std::vector<std::string>& args) {
    if (args.empty() || wants_help(args)) {
        ctx.out << USER_HELP;
        return args.empty() ? EXIT_USAGE : EXIT_OK;
    }
    const std::string& verb = args[0];
    const std::string command = "user " + verb;
    if (verb == "list") {
        if (args.size() != 1) return ctx.usage(command, "takes no arguments");
        int status = EXIT_OK;
        auto store = ctx.open(command, status);
        if (!store) return status;
        std::vector<account_summary_t> accounts;
        if (auto r = store->list_accounts(accounts); !r.ok()) return ctx.fail(command, r.message);
        for (const auto& a : accounts) {
            ctx.out << log_safe(a.name, MAX_ACCOUNT_NAME_BYTES);
            if (a.latest_version > 0) {
                ctx.out << "\tversion " << a.latest_version << "\t" << a.latest_date;
            } else {
                ctx.out << "\tno bookmarks";
            }
            ctx.out << "\n";
        }
        return EXIT_OK;
    }
    if (verb != "add" && verb != "passwd" && verb != "del") {
        return ctx.usage("user", "unknown command \"" + verb + "\"");
    }
    if (args.size() < 2) return ctx.usage(command, "needs an account name");
    const std::string& name = args[1];
    if (!is_valid_account_name(name)) {
        return ctx.usage(command, "\"" + name +
                                      "\" is not a valid account name (1 to 255 bytes of UTF-8, "
                                      "no control characters)");
    }
    const std::vector<std::string> rest(args.begin() + 2, args.end());
    if (verb == "del") {
        if (!rest.empty()) return ctx.usage(command, "unexpected argument \"" + rest[0] + "\"");
        int status = EXIT_OK;
        auto store = ctx.open(command, status);
        if (!store) return status;
        if (auto r = store->delete_account(name); !r.ok()) return ctx.fail(command, r.message);
        ctx.out << "deleted account \"" << name << "\" and its bookmarks\n";
        return EXIT_OK;
    }
    std::string password;
    int status = EXIT_OK;
    if (!read_password(ctx, command, rest, password, status)) return status;
    std::string record;
    const bool hashed = hash_password(password, password_hash_params_t{}, record);
    std::fill(password.begin(), password.end(), '\0');
    if (!hashed) return ctx.fail(command, "cannot hash the password (OpenSSL failed)");
    auto store = ctx.open(command, status);
    if (!store) return status;
    const auto r =
        verb == "add" ? store->add_account(name, record) : store->set_password_hash(name, record);
    if (!r.ok()) return ctx.fail(command, r.message);
    ctx.out << (verb == "add" ? "added account \"" : "changed the password of \"") << name
            << "\"\n";
    return EXIT_OK;
}

// Looks USER up; on failure reports it.
bool find_user(const context_t& ctx, InterfaceStore& store, const std::string& command,
               const std::string& name, account_t& account, int& status) {
    auto r = store.find_account(name, account);
    if (!r.ok()) {
        status = ctx.fail(command, r.message);
        return false;
    }
    return true;
}

int history_command(const context_t& ctx, const std::vector<std::string>& args) {
    if (wants_help(args)) {
        ctx.out << HISTORY_HELP;
        return EXIT_OK;
    }
    if (args.size() != 1) return ctx.usage("history", "needs exactly one account name");
    int status = EXIT_OK;
    auto store = ctx.open("history", status);
    if (!store) return status;
    account_t account;
    if (!find_user(ctx, *store, "history", args[0], account, status)) return status;
    std::vector<tree_version_t> versions;
    if (auto r = store->list_versions(account.id, versions); !r.ok()) {
        return ctx.fail("history", r.message);
    }
    if (versions.empty()) {
        ctx.out << "\"" << account.name << "\" has no stored bookmarks\n";
        return EXIT_OK;
    }
    ctx.out << "version\tdate (UTC)\tclient type\tbytes\n";
    // Clients chose their client types: escaped, so that none can write
    // into the operator's terminal.
    for (const auto& v : versions) {
        ctx.out << v.version << "\t" << log_safe(v.date, LOG_TEXT_MAX) << "\t"
                << log_safe(v.client_type, LOG_TEXT_MAX) << "\t" << v.size << "\n";
    }
    return EXIT_OK;
}

int restore_command(const context_t& ctx, const std::vector<std::string>& args) {
    if (wants_help(args)) {
        ctx.out << RESTORE_HELP;
        return EXIT_OK;
    }
    if (args.size() != 2) return ctx.usage("restore", "needs an account name and a version");
    int version = 0;
    if (!parse_int(args[1], version) || version < 1) {
        return ctx.usage("restore", "\"" + args[1] + "\" is not a version number");
    }
    int status = EXIT_OK;
    auto store = ctx.open("restore", status);
    if (!store) return status;
    account_t account;
    if (!find_user(ctx, *store, "restore", args[0], account, status)) return status;
    tree_version_t restored;
    if (auto r = store->restore(account.id, version, utc_now_text(), restored); !r.ok()) {
        return ctx.fail("restore", r.message + " for \"" + account.name + "\"");
    }
    ctx.out << "restored version " << version << " of \"" << account.name << "\" as version "
            << restored.version << "\n";
    return EXIT_OK;
}

int maintenance_command(const context_t& ctx, const std::vector<std::string>& args) {
    if (wants_help(args)) {
        ctx.out << MAINTENANCE_HELP;
        return EXIT_OK;
    }
    if (args.size() > 1 || (args.size() == 1 && args[0] != "on" && args[0] != "off")) {
        return ctx.usage("maintenance", "expects on, off or nothing");
    }
    int status = EXIT_OK;
    auto store = ctx.open("maintenance", status);
    if (!store) return status;
    if (args.empty()) {
        bool on = false;
        if (auto r = store->get_maintenance(on); !r.ok()) return ctx.fail("maintenance", r.message);
        ctx.out << "maintenance is " << (on ? "on" : "off") << "\n";
        return EXIT_OK;
    }
    const bool on = args[0] == "on";
    if (auto r = store->set_maintenance(on); !r.ok()) return ctx.fail("maintenance", r.message);
    ctx.out << "maintenance is " << (on ? "on" : "off") << "\n";
    return EXIT_OK;
}

}  // namespace

int run_operator_command(const std::vector<std::string>& args, std::istream& in, std::ostream& out,
                         std::ostream& err) {
    const char* env_store = std::getenv(STORE_ENV);
    context_t ctx{env_store && *env_store ? env_store : DEFAULT_STORE_URL, store_options_t{}, in,
                  out, err};
    const Zorvane_Programs::option_set_t options = {{"--store", "--keep-versions"}, {}, true};
    Zorvane_Programs::command_line_t line;
    Zorvane_Programs::command_line_error_t fault;
    if (!Zorvane_Programs::parse_command_line(args, options, line, fault)) {
        err << PROGRAM << ": " << fault.text() << " (see " << PROGRAM << " --help)\n";
        return EXIT_USAGE;
    }
    if (line.help) {
        out << MAIN_HELP;
        return EXIT_OK;
    }
    for (const auto& [name, value] : line.options) {
        if (name == "--store") {
            ctx.store_url = value;
        } else if (!parse_int(value, ctx.options.keep_versions) || ctx.options.keep_versions < 1) {
            err << PROGRAM << ": --keep-versions: \"" << value << "\" is not a positive number\n";
            return EXIT_USAGE;
        }
    }
    if (line.operands.empty()) {
        err << MAIN_HELP;
        return EXIT_USAGE;
    }
    if (!is_store_url(ctx.store_url)) {
        err << PROGRAM << ": --store: \"" << redact_postgres_url(ctx.store_url)
            << "\" is not a store (expected sqlite:PATH or postgresql://...)\n";
        return EXIT_USAGE;
    }
    const std::string& command = line.operands[0];
    const std::vector<std::string> rest(line.operands.begin() + 1, line.operands.end());
    if (command == "serve") return run_serve_command(ctx.store_url, ctx.options, rest, out, err);
    if (command == "user") return user_command(ctx, rest);
    if (command == "history") return history_command(ctx, rest);
    if (command == "restore") return restore_command(ctx, rest);
    if (command == "maintenance") return maintenance_command(ctx, rest);
    if (command == "help") {
        out << MAIN_HELP;
        return EXIT_OK;
    }
    err << PROGRAM << ": unknown command \"" << command << "\" (see " << PROGRAM << " --help)\n";
    return EXIT_USAGE;
}

}  // namespace Core_Server
