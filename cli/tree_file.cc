#include "tree_file.h"

#include <libxml/parser.h>
#include <malloc.h>

#include <sstream>

#include "bookmarks/bookmarks_html.h"
#include "bookmarks/tree_xml.h"
#include "common/whole_file.h"
#include "platform/strings.h"
#include "tree_file_memo.h"

namespace Zorvane_Cli {

using Core_ZorvaneMerge::zorvane_node_t;

namespace {

// The tree file `path`, whose bytes are in `document`, read: `document`
// becomes its tree document.
bool read_tree_bytes(const std::string& path, bool html, std::string& document,
                     zorvane_node_t& tree, std::ostream& err) {
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

}  // namespace

bool read_tree_file(const std::string& path, bool html, std::string& document, zorvane_node_t& tree,
                    std::ostream& err) {
    if (!Core_Common::read_whole_file(Core_Platform::utf8_to_wide(path), document)) {
        err << "zorvane: cannot read the tree file " << path << "\n";
        return false;
    }
    return read_tree_bytes(path, html, document, tree, err);
}

bool tree_file_t::read_now(std::ostream& err) {
    if (!known) return ok;
    known.reset();
    document = std::move(bytes);
    bytes = std::string();
    ok = read_tree_bytes(path, html, document, tree, err);
    return ok;
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

void pending_tree_file::start(const std::string& path, bool html, const std::string& memo_dir) {
    // The XML library's global tables are set up before a second thread
    // parses.
    xmlInitParser();
    m_file = std::async(std::launch::async, [path, html, memo_dir] {
        tree_file_t file;
        file.path = path;
        file.html = html;
        std::ostringstream errors;
        if (!Core_Common::read_whole_file(Core_Platform::utf8_to_wide(path), file.document)) {
            errors << "zorvane: cannot read the tree file " << path << "\n";
            file.errors = errors.str();
            return file;
        }
        file.file_digest = Core_Common::sha256_t::of(file.document.data(), file.document.size());
        if (!memo_dir.empty()) {
            const auto memo = load_tree_file_memo(memo_dir, html);
            if (memo && memo->file == file.file_digest) {
                file.ok = true;
                file.known = memo;
                file.text_key = memo->key;
                file.bytes = std::move(file.document);
                file.document = std::string();
                return file;
            }
        }
        file.text_key = Core_Common::fingerprint_t::random_key();
        file.ok = read_tree_bytes(path, html, file.document, file.tree, errors);
        file.errors = errors.str();
        // What the reading left free on this thread's heap goes back to the
        // system now, rather than staying resident while the sync runs.
        malloc_trim(0);
        return file;
    });
}

bool pending_tree_file::take(tree_file_t& file, std::ostream& err) {
    if (!m_file.valid()) return true;
    file = m_file.get();
    if (!file.ok) {
        err << file.errors;
        return false;
    }
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
