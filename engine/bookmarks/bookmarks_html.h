// Public engine surface: the bookmark-file HTML that browsers import and
// export, read into and written from the engine's bookmark tree.
//
// Reading maps folders (H3), bookmarks (A), separators (HR), descriptions
// (DD), keywords (SHORTCUTURL), tags (TAGS), feeds (FEEDURL) and dates
// (ADD_DATE, LAST_MODIFIED, in seconds; kept in the tree as microseconds)
// onto a tree whose root holds the menu, toolbar and unfiled folders: a
// top-level folder marked PERSONAL_TOOLBAR_FOLDER becomes the toolbar, one
// marked UNFILED_BOOKMARKS_FOLDER the unfiled folder, and everything else at
// the top goes into the menu. Every node gets an identifier derived from its
// content (an item's address; a folder's parent and title), so reading the
// same file twice gives the same tree, and a bookmark two files share gets
// the same identifier in both.
//
// Both functions are pure and thread-safe.
#pragma once

#include <string>
#include <string_view>

#include "bookmarks/bookmark_node.h"

namespace Core_ZorvaneMerge {

// Reads a bookmark file. Returns false, leaving `tree` unchanged and the
// reason in `*error` (when given), when the text holds no bookmark list (no
// DL element) at all, declares entities or a document type subset, or nests
// folders deeper than the engine's trees may (kMaxTreeDepth).
bool read_bookmarks_html(std::string_view html, zorvane_node_t& tree, std::string* error = nullptr);

// The bookmark file of `tree` (UTF-8): the menu folder's content at the top,
// the toolbar and unfiled folders as marked folders inside it.
std::string write_bookmarks_html(const zorvane_node_t& tree);

// Text or an attribute value (UTF-8) as a bookmark file writes it: '&', '<',
// '>' and '"' as character entities, everything else as it is. The same text
// is also well-formed XML text.
std::string html_escape(std::string_view text);

}  // namespace Core_ZorvaneMerge
