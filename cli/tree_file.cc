#include "tree_file.h"

#include <libxml/parser.h>
#include <malloc.h>

#include <sstream>

#include "bookmarks/bookmarks_html.h"
#include "bookmarks/tree_xml.h"
#include "common/whole_file.h"
#include "platform/strings.h"

namespace Zorvane_Cli {

using Core_ZorvaneMerge::zorvane_node_t;

bool read_tree_file(const std::string& path, bool html, std::string& document, zorvane_node_t& tree,
                    std::ostream& err) {
    if (!Core_Common::read_whole_file(Core_Platform::utf8_to_wide(path), document)) {
        err << "zorvane: cannot read the tree file " << path << "\n";
        return false;
    }
    if (html) {
        std::string why;
        if (!Core_ZorvaneMerge::read_bookmarks_html(document, tree, &why)) {
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

bool write_tree_file(const std::string& path, bool html, const std::string& document,
                     const zorvane_node_t& tree, std::ostream& err) {
    if (!Core_Common::write_whole_file(
            Core_Platform::utf8_to_wide(path),
            html ? Core_ZorvaneMerge::write_bookmarks_html(tree) : document)) {
        err << "zorvane: cannot write " << path << "\n";
        return false;
    }
    return true;
}

void pending_tree_file::start(const std::string& path, bool html) {
    // The XML library's global tables are set up before a second thread
    // parses.
    xmlInitParser();
    m_file = std::async(std::launch::async, [path, html] {
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

bool pending_tree_file::take(std::string& document, zorvane_node_t& tree, std::ostream& err) {
    if (!m_file.valid()) return true;
    tree_file_t file = m_file.get();
    if (!file.ok) {
        err << file.errors;
        return false;
    }
    document = std::move(file.document);
    tree = std::move(file.tree);
    return true;
}

// write_tree gives every node one "<node>" start tag, and a "<" in any text
// is escaped, so counting the tags counts the nodes.
std::size_t nodes_in_document(std::u16string_view document) {
    std::size_t count = 0;
    for (std::size_t at = document.find(u"<node>"); at != std::u16string_view::npos;
         at = document.find(u"<node>", at + 6)) {
        ++count;
    }
    return count;
}

}  // namespace Zorvane_Cli
