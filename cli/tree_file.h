// Internal to the zorvane program: the tree files of the host commands
// (--tree, --out), either bookmark tree documents (XML) or browsers'
// bookmark files (HTML), read and written.
#pragma once

#include <cstddef>
#include <future>
#include <optional>
#include <ostream>
#include <string>
#include <string_view>

#include "bookmarks/bookmark_node.h"
#include "common/sha256.h"
#include "tree_file_memo.h"

namespace Zorvane_Cli {

// A tree file as read_tree_file reads it: `document` is the tree document
// handed to the component and `tree` what that document reads as; `errors`
// holds what the reading reported when `ok` is false.
//
// A file that the data directory's memo (tree_file_memo.h) knows is not
// read: `known` is then that memo (the fingerprint of its document's UTF-16
// text, and its nodes), and `bytes` holds the file for read_now(), should it
// be needed after all. `text_key` is the key of the run's text fingerprints:
// the memo's, or a new one when no memo knows the file.
struct tree_file_t {
    bool ok = false;
    std::string document;
    Core_ZorvaneMerge::zorvane_node_t tree;
    std::string errors;
    Core_Common::sha256_t::value_t file_digest{};  // of the file's bytes
    std::optional<tree_file_memo_t> known;
    Core_Common::fingerprint_t::key_t text_key{};
    std::string bytes;
    std::string path;
    bool html = false;

    // Reads a file left unread for its memo; true when it is read (or was).
    bool read_now(std::ostream& err);
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
    // Starts reading `path`. With `memo_dir`, a file that directory's memo
    // knows is left unread (tree_file_t::known).
    void start(const std::string& path, bool html, const std::string& memo_dir = std::string());

    // Waits for the file started, if any. True, with the file moved into
    // `file`, when it read, was left unread for its memo, or none was
    // started; false, its complaint written to `err`, when it did not.
    bool take(tree_file_t& file, std::ostream& err);

private:
    std::future<tree_file_t> m_file;
};

// The number of nodes of a tree document the component wrote, counted in its
// UTF-16 form without reading the tree.
std::size_t nodes_in_document(std::u16string_view document);

}  // namespace Zorvane_Cli
