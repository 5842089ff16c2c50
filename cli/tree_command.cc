#include "tree_command.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <functional>

#include "arguments.h"
#include "bookmarks/bookmarks_html.h"
#include "bookmarks/change_list.h"
#include "bookmarks/merge.h"
#include "bookmarks/tree_compare.h"
#include "bookmarks/tree_xml.h"
#include "bookmarks/url_forms.h"
#include "common/whole_file.h"
#include "platform/strings.h"

namespace Zorvane_Cli {
namespace {

using namespace Core_ZorvaneMerge;

const char kTreeHelp[] =
    "Usage: zorvane tree SUBCOMMAND [ARGUMENTS...]\n"
    "\n"
    "Bookmark tree documents (the XML form of a tree).\n"
    "\n"
    "Subcommands:\n"
    "  normalize IN OUT                         read IN and write it again to OUT\n"
    "  equal A B                                print true when the trees are equal, else false\n"
    "  diff NEW OLD                             print the changes from OLD to NEW as JSON lines\n"
    "  merge REMOTE BASE LOCAL OUT [--skip-deletes]\n"
    "                                           three-way merge, written to OUT\n"
    "  adopt CLIENT_TYPE INCOMING LOCAL OUT     adopt a tree written by another client type\n"
    "  url key|stored|display TEXT              print an address form\n"
    "  show FILE [--html]                       print the tree as an indented outline\n"
    "\n"
    "Run 'zorvane tree SUBCOMMAND --help' for details.\n"
    "A document that is not an acceptable tree is rejected: nothing is written,\n"
    "the reason goes to stderr and the exit status is 1. Wrong usage exits with 2.\n";

struct subcommand_t {
    const char* name;
    const char* usage;  // operands after the subcommand's name
    const char* help;   // what it does, one or more lines
    std::size_t operands;
    std::vector<std::string> options;
    std::function<int(const arguments_t&, std::ostream&, std::ostream&)> run;
};

std::u16string path_of(const std::string& argument) {
    return Core_Platform::ansi_to_wide(argument);
}

// Reads and parses a tree document; on failure tells why on `err`.
bool load_tree(const std::string& path, zorvane_node_t& tree, std::ostream& err) {
    std::string document;
    if (!Core_Common::read_whole_file(path_of(path), document)) {
        err << "zorvane tree: cannot read " << path << ": " << std::strerror(errno) << "\n";
        return false;
    }
    std::string why;
    read_tree(document, tree, why);
    if (tree.type == NODE_NONE) {
        err << "zorvane tree: " << path << ": not an acceptable bookmark tree document (" << why
            << ")\n";
        return false;
    }
    return true;
}

int save_tree(const std::string& path, const zorvane_node_t& tree, std::ostream& err) {
    std::string document;
    write_tree(tree, document);
    if (!Core_Common::write_whole_file(path_of(path), document)) {
        err << "zorvane tree: cannot write " << path << ": " << std::strerror(errno) << "\n";
        return kExitFailure;
    }
    return kExitOk;
}

std::string json_string(std::string_view s) {
    std::string out = "\"";
    for (char ch : s) {
        auto c = static_cast<unsigned char>(ch);
        if (ch == '"' || ch == '\\') {
            out.push_back('\\');
            out.push_back(ch);
        } else if (c < 0x20 || c == 0x7F) {
            char buffer[8];
            std::snprintf(buffer, sizeof buffer, "\\u%04x", c);
            out += buffer;
        } else {
            out.push_back(ch);
        }
    }
    return out + "\"";
}

const char* op_name(std::int32_t op) {
    switch (op) {
        case change_path:
            return "path";
        case change_put:
            return "put";
        case change_delete:
            return "delete";
        case change_move:
            return "move";
    }
    return "unknown";
}

int normalize(const arguments_t& a, std::ostream&, std::ostream& err) {
    zorvane_node_t tree;
    if (!load_tree(a.operands[0], tree, err)) return kExitFailure;
    return save_tree(a.operands[1], tree, err);
}

int equal(const arguments_t& a, std::ostream& out, std::ostream& err) {
    zorvane_node_t x, y;
    if (!load_tree(a.operands[0], x, err) || !load_tree(a.operands[1], y, err)) return kExitFailure;
    out << (trees_equal(x, y) ? "true" : "false") << "\n";
    return kExitOk;
}

int diff(const arguments_t& a, std::ostream& out, std::ostream& err) {
    zorvane_node_t new_tree, old_tree;
    if (!load_tree(a.operands[0], new_tree, err) || !load_tree(a.operands[1], old_tree, err)) {
        return kExitFailure;
    }
    change_list list = diff_trees(new_tree, old_tree);
    change_list moves = moves_between(new_tree, old_tree);
    list.insert(list.end(), moves.begin(), moves.end());
    for (const change_record& r : list) {
        out << "{\"op\":\"" << op_name(r.op) << "\",\"guid\":" << json_string(r.node.guid)
            << ",\"parent\":" << json_string(r.parent_guid) << ",\"index\":" << r.node.index
            << "}\n";
    }
    return kExitOk;
}

int merge(const arguments_t& a, std::ostream&, std::ostream& err) {
    merge_input in;
    if (!load_tree(a.operands[0], in.remote, err) || !load_tree(a.operands[1], in.base, err) ||
        !load_tree(a.operands[2], in.local, err)) {
        return kExitFailure;
    }
    in.skip_deletes = a.has("--skip-deletes");
    zorvane_node_t out;
    if (!merge_trees(in, out)) {
        err << "zorvane tree merge: a tree nests deeper than " << kMaxTreeDepth << " levels\n";
        return kExitFailure;
    }
    return save_tree(a.operands[3], out, err);
}

int adopt(const arguments_t& a, std::ostream&, std::ostream& err) {
    adopt_input in;
    in.client_type = a.operands[0];
    if (!load_tree(a.operands[1], in.incoming, err) || !load_tree(a.operands[2], in.local, err)) {
        return kExitFailure;
    }
    zorvane_node_t out;
    if (!adopt_incoming(in, out)) {
        err << "zorvane tree adopt: a tree nests deeper than " << kMaxTreeDepth << " levels\n";
        return kExitFailure;
    }
    return save_tree(a.operands[3], out, err);
}

int url(const arguments_t& a, std::ostream& out, std::ostream& err) {
    const std::string& form = a.operands[0];
    const std::string& text = a.operands[1];
    if (form == "key") {
        out << comparison_key(text) << "\n";
    } else if (form == "stored") {
        out << to_stored_form(Core_Platform::ansi_to_wide(text)) << "\n";
    } else if (form == "display") {
        out << Core_Platform::wide_to_ansi(to_display_form(text)) << "\n";
    } else {
        err << "zorvane tree url: unknown form '" << form << "' (key, stored or display)\n";
        return kExitUsage;
    }
    return kExitOk;
}

// One line per node below the top, indented two spaces per level: folders
// as "Title/", items as "Title  <address>", separators as "----".
void outline(const zorvane_node_t& folder, int depth, std::ostream& out) {
    for (const zorvane_node_t& c : folder.children) {
        out << std::string(static_cast<std::size_t>(depth) * 2, ' ');
        const std::string title = Core_Platform::wide_to_utf8(c.title);
        switch (c.type) {
            case NODE_FOLDER:
                out << title << "/\n";
                outline(c, depth + 1, out);
                continue;
            case NODE_SEPARATOR:
                out << "----\n";
                continue;
            default:
                break;
        }
        out << title;
        if (!c.url.empty())
            out << "  <" << Core_Platform::wide_to_utf8(to_display_form(c.url)) << ">";
        if (c.type == NODE_FEED) out << " (feed)";
        if (c.type == NODE_QUERY) out << " (query)";
        if (c.type == NODE_NOTE) out << " (note)";
        out << "\n";
    }
}

int show(const arguments_t& a, std::ostream& out, std::ostream& err) {
    zorvane_node_t tree;
    const std::string& path = a.operands[0];
    if (a.has("--html")) {
        std::string text;
        if (!Core_Common::read_whole_file(path_of(path), text)) {
            err << "zorvane tree: cannot read " << path << ": " << std::strerror(errno) << "\n";
            return kExitFailure;
        }
        std::string why;
        if (!read_bookmarks_html(text, tree, &why)) {
            err << "zorvane tree: " << path << ": " << why << "\n";
            return kExitFailure;
        }
    } else if (!load_tree(path, tree, err)) {
        return kExitFailure;
    }
    outline(tree, 0, out);
    return kExitOk;
}

const std::vector<subcommand_t>& subcommands() {
    static const std::vector<subcommand_t> list = {
        {"normalize",
         "IN OUT",
         "Reads the tree document IN and writes it to OUT in the engine's exact form.\n",
         2,
         {},
         &normalize},
        {"equal",
         "A B",
         "Prints true when the trees of A and B are equal (same nodes in the same order,\n"
         "addresses compared by their comparison key, times ignored), else false.\n",
         2,
         {},
         &equal},
        {"diff",
         "NEW OLD",
         "Prints what turns the tree OLD into NEW, one JSON object per line:\n"
         "  {\"op\":\"path|put|delete|move\",\"guid\":\"...\",\"parent\":\"...\",\"index\":N}\n"
         "first the path, put and delete records, then the moves that give OLD the order\n"
         "of NEW. \"index\" is the node's position (a move's target position).\n",
         2,
         {},
         &diff},
        {"merge",
         "REMOTE BASE LOCAL OUT [--skip-deletes]",
         "Merges the changes of REMOTE and LOCAL since their common state BASE and writes\n"
         "the result to OUT. Where both changed a node, LOCAL's fields win. Each folder\n"
         "keeps LOCAL's order if LOCAL reordered it, else REMOTE's if REMOTE did.\n"
         "  --skip-deletes   remove nothing that BASE has\n",
         4,
         {"--skip-deletes"},
         &merge},
        {"adopt",
         "CLIENT_TYPE INCOMING LOCAL OUT",
         "Writes to OUT the tree a browser with the tree LOCAL adopts when the server's\n"
         "tree INCOMING was written by CLIENT_TYPE (FIREFOX and WEB trees are taken as\n"
         "they are; otherwise LOCAL's menu queries are kept and INCOMING is added).\n",
         4,
         {},
         &adopt},
        {"url",
         "key|stored|display TEXT",
         "Prints a form of the address TEXT: 'key' the comparison key of TEXT taken as a\n"
         "stored address, 'stored' the stored form of TEXT, 'display' the display form\n"
         "of TEXT taken as a stored address.\n",
         2,
         {},
         &url},
        {"show",
         "FILE [--html]",
         "Prints the tree of FILE as an outline, two spaces of indent per level: folders\n"
         "as 'Title/', bookmarks as 'Title  <address>' (the display form), separators as\n"
         "'----'.\n"
         "  --html   FILE is a browser's bookmark-file HTML, not a tree document\n",
         1,
         {"--html"},
         &show},
    };
    return list;
}

}  // namespace

int run_tree_command(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
    if (args.empty()) {
        err << "zorvane tree: missing subcommand (try 'zorvane tree --help')\n";
        return kExitUsage;
    }
    if (args[0] == "--help" || args[0] == "-h") {
        out << kTreeHelp;
        return kExitOk;
    }
    for (const subcommand_t& s : subcommands()) {
        if (args[0] != s.name) continue;
        arguments_t parsed;
        std::string error;
        if (!parse_arguments(std::vector<std::string>(args.begin() + 1, args.end()), s.options,
                             parsed, error)) {
            err << "zorvane tree " << s.name << ": " << error << " (usage: zorvane tree " << s.name
                << " " << s.usage << ")\n";
            return kExitUsage;
        }
        if (parsed.help) {
            out << "Usage: zorvane tree " << s.name << " " << s.usage << "\n\n" << s.help;
            return kExitOk;
        }
        if (parsed.operands.size() != s.operands) {
            err << "zorvane tree " << s.name << ": expected " << s.operands << " arguments, got "
                << parsed.operands.size() << " (usage: zorvane tree " << s.name << " " << s.usage
                << ")\n";
            return kExitUsage;
        }
        return s.run(parsed, out, err);
    }
    err << "zorvane tree: unknown subcommand '" << args[0] << "' (try 'zorvane tree --help')\n";
    return kExitUsage;
}

}  // namespace Zorvane_Cli
