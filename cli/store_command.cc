#include "store_command.h"

#include <cerrno>
#include <cstring>
#include <iostream>

#include "arguments.h"
#include "bookmarks/tree_xml.h"
#include "common/whole_file.h"
#include "data_directory.h"
#include "platform/strings.h"
#include "programs/command_line.h"
#include "programs/password_input.h"
#include "sync_client/local_store.h"

namespace Zorvane_Cli {
namespace {

using Core_ZorvaneMerge::zorvane_node_t;

const char kStoreHelp[] =
    "Usage: zorvane store SUBCOMMAND [ARGUMENTS...]\n"
    "\n"
    "The local data files the engine keeps in a data directory.\n"
    "\n"
    "Subcommands:\n"
    "  show   print the record of the last synchronisation of a user\n"
    "\n"
    "Run 'zorvane store SUBCOMMAND --help' for details.\n";

const char kShowUsage[] =
    "zorvane store show [--data-dir DIR | --server HOST[:PORT]] --user NAME "
    "(--password-env VAR | --password-stdin) [--tree OUT]";

const char kShowHelp[] =
    "Opens the record of the last synchronisation (zorvane.dat) in DIR with the user\n"
    "name and password it was written with, and prints it as key=value lines:\n"
    "  user=NAME  version=N (-1: none)  date=TEXT  client_type=TEXT  nodes=N\n"
    "(nodes counts every node of the record's tree, its top included).\n"
    "\n"
    "Options:\n"
    "  --data-dir DIR       the data directory (default: the one the sync commands\n"
    "                       use for NAME and the server, under\n"
    "                       $XDG_DATA_HOME/zorvane or ~/.local/share/zorvane)\n"
    "  --server HOST[:PORT] the server whose default data directory to open\n"
    "                       (default $ZORVANE_SERVER, or localhost; port 8080)\n"
    "  --user NAME          the user name, exactly as the record holds it\n"
    "  --password-env VAR   take the password from the environment variable VAR\n"
    "  --password-stdin     take the password from the first line of standard input\n"
    "  --tree OUT           also write the record's tree document to OUT\n"
    "\n"
    "The password is never taken from the command line. A record that does not\n"
    "open (another user, another password, a damaged or missing file) gives a\n"
    "one-line reason on stderr and exit status 1; wrong usage exits with 2.\n";

// Options that take a value, each at most once, and flags.
const Zorvane_Programs::option_set_t kShowOptions = {
    {"--data-dir", "--server", "--user", Zorvane_Programs::kPasswordEnvOption, "--tree"},
    {Zorvane_Programs::kPasswordStdinOption},
    false,
    true,
};

std::size_t count_nodes(const zorvane_node_t& node) {
    std::size_t count = 1;
    for (const zorvane_node_t& child : node.children) count += count_nodes(child);
    return count;
}

int usage_error(std::ostream& err, const std::string& reason) {
    err << "zorvane store show: " << reason << " (usage: " << kShowUsage << ")\n";
    return kExitUsage;
}

int show(const std::vector<std::string>& args, std::istream& in, std::ostream& out,
         std::ostream& err) {
    Zorvane_Programs::command_line_t options;
    Zorvane_Programs::command_line_error_t fault;
    if (!Zorvane_Programs::parse_command_line(args, kShowOptions, options, fault)) {
        return usage_error(err, fault.text('\''));
    }
    if (options.help) {
        out << "Usage: " << kShowUsage << "\n\n" << kShowHelp;
        return kExitOk;
    }
    if (!options.operands.empty()) {
        return usage_error(err, "unexpected argument '" + options.operands[0] + "'");
    }
    if (!options.has("--user")) return usage_error(err, "missing --user");
    if (options.has("--data-dir") && options.has("--server")) {
        return usage_error(err, "give --data-dir or --server, not both");
    }
    std::string password_bytes;
    const Zorvane_Programs::password_result_t password =
        Zorvane_Programs::read_password(options, in, password_bytes);
    if (password.outcome == Zorvane_Programs::password_outcome_enum::NOT_GIVEN) {
        return usage_error(err, Zorvane_Programs::kOnePasswordSource);
    }
    if (!password.read()) return usage_error(err, password.message);
    Core_ZorvaneClient::account_t account;
    account.user_name = Core_Platform::ansi_to_wide(options.value("--user"));
    account.password = Core_Platform::ansi_to_wide(password_bytes);
    if (account.user_name.empty())
        return usage_error(err, "the user name is empty or not valid text");
    if (account.password.empty() && !password_bytes.empty()) {
        return usage_error(err, "the password is not valid text");
    }

    std::string error;
    std::string directory = options.value("--data-dir");
    if (directory.empty()) {
        directory = default_data_directory(options.value("--user"),
                                           server_or_default(options.value("--server")), error);
        if (directory.empty()) {
            err << "zorvane store show: " << error << "\n";
            return kExitFailure;
        }
    }
    Core_ZorvaneClient::sync_record_t record;
    std::string client_type;
    const Core_ZorvaneClient::record_load_enum outcome = Core_ZorvaneClient::load_record_file(
        Core_Platform::ansi_to_wide(directory), account, record, client_type);
    if (outcome != Core_ZorvaneClient::RECORD_LOADED) {
        err << "zorvane store show: " << directory << ": "
            << Core_ZorvaneClient::record_load_text(outcome) << "\n";
        return kExitFailure;
    }

    const bool present = Core_ZorvaneClient::tree_present(record.tree);
    out << "user=" << options.value("--user") << "\n"
        << "version=" << record.version << "\n"
        << "date=" << record.date << "\n"
        << "client_type=" << client_type << "\n"
        << "nodes=" << (present ? count_nodes(record.tree) : 0) << "\n";

    if (options.has("--tree")) {
        const std::string target = options.value("--tree");
        if (!present) {
            err << "zorvane store show: the record holds no readable tree; " << target
                << " not written\n";
            return kExitFailure;
        }
        std::string document;
        Core_ZorvaneMerge::write_tree(record.tree, document);
        if (!Core_Common::write_whole_file(Core_Platform::ansi_to_wide(target), document)) {
            err << "zorvane store show: cannot write " << target << ": " << std::strerror(errno)
                << "\n";
            return kExitFailure;
        }
    }
    return kExitOk;
}

}  // namespace

int run_store_command(const std::vector<std::string>& args, std::istream& in, std::ostream& out,
                      std::ostream& err) {
    if (args.empty()) {
        err << "zorvane store: missing subcommand (try 'zorvane store --help')\n";
        return kExitUsage;
    }
    if (args[0] == "--help" || args[0] == "-h") {
        out << kStoreHelp;
        return kExitOk;
    }
    if (args[0] == "show") {
        return show(std::vector<std::string>(args.begin() + 1, args.end()), in, out, err);
    }
    err << "zorvane store: unknown subcommand '" << args[0] << "' (try 'zorvane store --help')\n";
    return kExitUsage;
}

int run_store_command(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
    return run_store_command(args, std::cin, out, err);
}

}  // namespace Zorvane_Cli
