// Internal to the zorvane program: the tree files of the host commands
// (--tree, --out), either bookmark tree documents (XML) or browsers'
// bookmark files (HTML), read and written.
#pragma once

#include <cstddef>
#include <future>
#include <ostream>
#include <string>
#include <string_view>

#include "bookmarks/bookmark_node.h"

namespace Zorvane_Cli {

// A tree file as read_tree_file reads it: `document` is the tree document
// handed to the component and `tree` what that document reads as; `errors`
// holds what the reading reported when `ok` is false.
struct tree_file_t {
    bool ok = false;
    std::string document;
    Core_ZorvaneMerge::zorvane_node_t tree;
    std::string errors;
};

// Reads the tree file at `path` (HTML when `html`). Either kind of file is
// handed over as the tree document written from what it reads as: the same
// form the component gives back, so that an unchanged tree shows as an equal
// document. On failure writes one line to `err` and returns false.
bool read_tree_file(const std::string& path, bool html, std::string& document,
                    Core_ZorvaneMerge::zorvane_node_t& tree, std::ostream& err);

// Writes the tree `document` (XML form), which reads as `tree`, to `path`;
// as HTML when `html`. On failure writes one line to `err` and returns false.
bool write_tree_file(const std::string& path, bool html, const std::string& document,
                     const Core_ZorvaneMerge::zorvane_node_t& tree, std::ostream& err);

// A tree file read on a thread of its own while the caller does something
// else (the component loads meanwhile). Taken once, by one thread.
class pending_tree_file {
public:
    // Starts reading `path`.
    void start(const std::string& path, bool html);

    // Waits for the file started, if any. True, with the file's document and
    // tree moved into the arguments, when it read (or none was started);
    // false, its complaint written to `err`, when it did not.
    bool take(std::string& document, Core_ZorvaneMerge::zorvane_node_t& tree, std::ostream& err);

private:
    std::future<tree_file_t> m_file;
};

// The number of nodes of a tree document the component wrote, counted in its
// UTF-16 form without reading the tree.
std::size_t nodes_in_document(std::u16string_view document);

}  // namespace Zorvane_Cli
