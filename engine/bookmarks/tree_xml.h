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

// The same two conversions through a whole document of xml_node_t elements
// (common/xml_node.h): the same bytes, the same trees, the same documents
// refused, at several times the memory and time. read_tree() hands
// documents with a text run too long for the stream to
// read_tree_with_nodes(); the tests hold the streaming forms against these.
void write_tree_with_nodes(const zorvane_node_t& tree, std::string& out);
void read_tree_with_nodes(std::string_view document, zorvane_node_t& tree);

}  // namespace Core_ZorvaneMerge
