#include "store_command.h"

#include <cerrno>
#include <cstring>
#include <iostream>
#include <map>

#include "arguments.h"
#include "bookmarks/tree_xml.h"
#include "common/whole_file.h"
#include "data_directory.h"
#include "platform/environment.h"
#include "platform/strings.h"
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

// Options that take a value, and flags.
const std::vector<std::string> kValueOptions = {"--data-dir", "--server", "--user",
                                                "--password-env", "--tree"};
const std::vector<std::string> kFlagOptions = {"--password-stdin"};

struct show_options_t {
    std::map<std::string, std::string> values;
    bool password_stdin = false;
    bool help = false;
};

bool contains(const std::vector<std::string>& list, const std::string& item) {
    for (const std::string& s : list) {
        if (s == item) return true;
    }
    return false;
}

// Accepts "--name VALUE" and "--name=VALUE"; each option at most once.
bool parse_show(const std::vector<std::string>& args, show_options_t& out, std::string& error) {
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        if (a == "--help" || a == "-h") {
            out.help = true;
            continue;
        }
        if (contains(kFlagOptions, a)) {
            out.password_stdin = true;
            continue;
        }
        std::string name = a;
        std::string value;
        bool has_value = false;
        if (const std::size_t eq = a.find('='); a.rfind("--", 0) == 0 && eq != std::string::npos) {
            name = a.substr(0, eq);
            value = a.substr(eq + 1);
            has_value = true;
        }
        if (!contains(kValueOptions, name)) {
            error = a.rfind("-", 0) == 0 ? "unknown option '" + a + "'"
                                         : "unexpected argument '" + a + "'";
            return false;
        }
        if (!has_value) {
            if (i + 1 >= args.size()) {
                error = "option " + name + " needs a value";
                return false;
            }
            value = args[++i];
        }
        if (out.values.count(name) != 0) {
            error = "option " + name + " given twice";
            return false;
        }
        out.values[name] = value;
    }
    return true;
}

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
    show_options_t options;
    std::string error;
    if (!parse_show(args, options, error)) return usage_error(err, error);
    if (options.help) {
        out << "Usage: " << kShowUsage << "\n\n" << kShowHelp;
        return kExitOk;
    }
    if (options.values.count("--user") == 0) return usage_error(err, "missing --user");
    if (options.values.count("--data-dir") != 0 && options.values.count("--server") != 0) {
        return usage_error(err, "give --data-dir or --server, not both");
    }
    const bool from_env = options.values.count("--password-env") != 0;
    if (from_env == options.password_stdin) {
        return usage_error(err, "give exactly one of --password-env and --password-stdin");
    }

    std::string password_bytes;
    if (from_env) {
        const std::string& variable = options.values["--password-env"];
        if (!Core_Platform::environment_value(variable, password_bytes)) {
            return usage_error(err, "environment variable " + variable + " is not set");
        }
    } else {
        std::getline(in, password_bytes);
        if (!password_bytes.empty() && password_bytes.back() == '\r') password_bytes.pop_back();
    }
    Core_ZorvaneClient::account_t account;
    account.user_name = Core_Platform::ansi_to_wide(options.values["--user"]);
    account.password = Core_Platform::ansi_to_wide(password_bytes);
    if (account.user_name.empty())
        return usage_error(err, "the user name is empty or not valid text");
    if (account.password.empty() && !password_bytes.empty()) {
        return usage_error(err, "the password is not valid text");
    }

    std::string directory = options.values["--data-dir"];
    if (directory.empty()) {
        directory = default_data_directory(options.values["--user"],
                                           server_or_default(options.values["--server"]), error);
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
    out << "user=" << options.values["--user"] << "\n"
        << "version=" << record.version << "\n"
        << "date=" << record.date << "\n"
        << "client_type=" << client_type << "\n"
        << "nodes=" << (present ? count_nodes(record.tree) : 0) << "\n";

    if (options.values.count("--tree") != 0) {
        const std::string& target = options.values["--tree"];
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
