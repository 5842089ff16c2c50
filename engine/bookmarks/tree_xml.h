// Public engine surface: the document form of a bookmark tree.
//
// Every tree crosses the engine's boundaries as one XML document: from and to
// the browser's scripts, inside sync messages, and in the local data file.
// The document is a root element "nodeset" holding one "node" element for the
// top of the tree. A "node" holds text-only elements "guid", "type", "name",
// and then either "content" (notes) or "description", "keyword", "tag",
// "url", "feedurl", "created", "modified" (every other kind, fixed folders
// included), followed by "children" with one "node" per child when the node
// has children. No attributes are used. Addresses appear in their display
// form (url_forms.h); the node holds their stored form.
//
// Both functions stream: the document is written and read element by
// element, never held as a tree of XML elements, so a tree of tens of
// thousands of bookmarks costs little more than the tree and its text.
//
// All functions are pure and thread-safe (each call uses its own XML
// parser).
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <string_view>

#include "bookmarks/bookmark_node.h"

namespace Core_ZorvaneMerge {

// Replaces `out` with the complete UTF-8 document for `tree`: the
// declaration <?xml version="1.0" encoding="UTF-8" standalone="yes"?>, then
// the elements indented by two spaces per level. Every element listed above
// is written, empty ones as <name/>. Note bodies are written with CR LF line
// ends.
void write_tree(const zorvane_node_t& tree, std::string& out);

// Sets `tree` to the tree the document describes, or to the empty tree
// zorvane_node_t(0, "") when the document is not acceptable: malformed XML,
// no "node" under the root element, or any node without identifier, with an
// unknown type, a folder, bookmark, query or feed without name, a bookmark,
// query or feed without address, or a feed without feed address. A document
// is taken whole or not at all; callers test `type` for 0.
//
// A document with a document type declaration, or with nodes nested
// deeper than kMaxTreeDepth (bookmark_node.h), is not acceptable either.
//
// Fixed folders keep only their name and children; separators need no name;
// element names inside "children" do not matter; the first of repeated
// elements counts. Children get `index` 0, 1, 2, ... by position. Note bodies
// lose trailing blanks and line ends and get CR LF line ends.
void read_tree(std::string_view document, zorvane_node_t& tree);
// The same; when the document is refused, `why` says why in a few words
// ("nodes nested deeper than 100 levels"), otherwise it is emptied.
void read_tree(std::string_view document, zorvane_node_t& tree, std::string& why);

// Whether read_tree gives a tree for `document` (rather than the empty
// tree), found without keeping the tree: for a caller that only checks a
// document it keeps as it is.
bool is_tree_document(std::string_view document);

// Whether read_tree, given write_tree's document of `tree`, gives back
// `tree` itself, every field alike (`index` included: each child's is its
// position, the top's 0). A check of the tree alone, without writing it,
// and conservative: it may answer false for a tree that would read back (a
// text with a control character, an address whose forms differ, a note with
// line ends, nesting near kMaxTreeDepth), never true for one that would not.
// A caller holding the tree a document was written from can then take that
// tree instead of reading the document.
bool reads_back_as_itself(const zorvane_node_t& tree);

// Sets every `index` as read_tree sets it: the top's 0, each child's its
// position. The document write_tree gives does not change (it holds no
// index); a tree a merge or a move put together then reads back as itself
// when its fields do.
void number_as_read(zorvane_node_t& tree);

// The "node" elements write_tree gives for `tree`: the tree's nodes, the
// top included, counted without recursion.
std::size_t nodes_written(const zorvane_node_t& tree);

// write_tree's bytes handed to `sink` a piece at a time (pieces of about
// `piece` bytes, each ending after a whole element, so no character is cut),
// so the document is never whole in memory: it goes straight into a packer
// or a converter.
void write_tree(const zorvane_node_t& tree, const std::function<void(std::string_view)>& sink,
                std::size_t piece = 1 << 20);

// read_tree for a document that comes in pieces (inflated, decoded or
// converted a piece at a time), so it is never whole in memory:
//
//   tree_document_reader_t reader;
//   for each piece: if (!reader.feed(piece)) break;  // false: the rest is not needed
//   if (!reader.finish(tree)) read_tree(whole document, tree);
//
// finish() gives what read_tree gives for the pieces put together, or
// returns false for a document that only reads whole (read_tree refuses
// every such document: none of this system holds an entity reference other
// than the predefined ones). Used once, by one thread.
class tree_document_reader_t {
public:
    tree_document_reader_t();
    ~tree_document_reader_t();
    tree_document_reader_t(const tree_document_reader_t&) = delete;
    tree_document_reader_t& operator=(const tree_document_reader_t&) = delete;

    bool feed(std::string_view piece);
    [[nodiscard]] bool finish(zorvane_node_t& tree);

private:
    struct state_t;
    std::unique_ptr<state_t> m_state;
};

// The same two conversions through a whole document of xml_node_t elements
// (common/xml_node.h): the same bytes, the same trees, the same documents
// refused, at several times the memory and time, with one exception: the
// library's document refuses a run of character content beyond 10,000,000
// bytes that it read in several pieces, which the streaming forms read (their
// texts are strings of their own). The tests hold the streaming forms against
// these.
void write_tree_with_nodes(const zorvane_node_t& tree, std::string& out);
void read_tree_with_nodes(std::string_view document, zorvane_node_t& tree);

}  // namespace Core_ZorvaneMerge
