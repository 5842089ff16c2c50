// Internal to zorvane-native-host: the browser's bookmark tree as the host
// sees it, and the translation between it and the engine's tree.
//
// The extension sends the browser's tree as flat records (browser_record_t),
// parents before children. The host gives every node the engine identifier
// it had before (the profile's identity table), or, for a node the table
// does not know, the identifier of the synchronised node with the same
// content (a bookmark's address; a folder's parent and title), or a new one.
// From that view it builds the engine's tree, keeping what the browser
// cannot hold (separators in Chromium, queries, feeds, notes, roots the
// browser lacks) as the synchronised tree had it, so a sync from one browser
// never removes what only another can show. The way back is a list of
// operations that turns the browser's tree into the synchronised one.
//
// Roots: Chromium's bookmarks bar and Firefox's toolbar are the toolbar
// folder, Firefox's menu the menu folder, both browsers' other bookmarks the
// unfiled folder, and the mobile folders one ordinary top-level folder with
// the fixed identifier kMobileGuid. Chromium has no menu, and its mobile
// folder takes nothing while it is empty: there, the menu (and the mobile
// folder, unless Chromium's own holds bookmarks) live as folders at the top
// of "Other bookmarks", the stand-ins, which map back to their folders.
//
// All functions are pure and single-threaded.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "bookmarks/bookmark_node.h"

namespace Zorvane_Native {

enum class browser_enum { chromium, firefox };

// The identifier of the mobile bookmarks folder in the engine's tree.
inline constexpr const char* kMobileGuid = "zorvane_mobile_folder";
// Titles of the stand-in folders in Chromium's "Other bookmarks".
inline constexpr const char16_t* kMenuStandInTitle = u"Bookmarks Menu";
inline constexpr const char16_t* kMobileStandInTitle = u"Mobile Bookmarks";

// One node as the extension reports it.
struct browser_record_t {
    std::string id;
    std::string parent_id;                        // empty for the browser's root
    int kind = Core_ZorvaneMerge::NODE_BOOKMARK;  // folder, bookmark or separator
    std::u16string title;
    std::string url;  // as the browser gives it (UTF-8)
    std::int64_t date_added_ms = 0;
    std::string root;  // "root", "toolbar", "menu", "unfiled", "mobile", or empty
};

// Where the browser's fixed folders are, and which stand-ins it has.
struct layout_t {
    browser_enum browser = browser_enum::firefox;
    std::string root_id;
    std::map<std::string, std::string> slots;  // "toolbar", "menu", ... -> browser id
    bool mobile_root_used = false;             // Chromium's own mobile folder is the mobile folder
    std::vector<std::string> stand_ins;        // the stand-ins Chromium has (their identifiers)
    // The nodes the browser refused to create: engine identifier ->
    // refusal_key of the node it refused. While the synchronised node has
    // that key the browser is taken not to hold it, like a separator in
    // Chromium: kept on the account where it stands, never planned for the
    // browser again. Not set by read_records; the caller keeps it.
    std::map<std::string, std::string> refused;
};

// What a refusal of `node` depends on: its address (a folder: its kind).
std::string refusal_key(const Core_ZorvaneMerge::zorvane_node_t& node);

// A node of the browser's tree: `id` is the browser's (empty for one not
// created yet), `guid` the engine's ("" for a fixed folder the host leaves
// alone, such as an unused mobile root).
struct view_node_t {
    std::string id;
    std::string guid;
    int kind = Core_ZorvaneMerge::NODE_FOLDER;
    std::u16string title;  // as the engine keeps it (never empty for a folder or bookmark)
    std::string url;       // stored form
    std::int64_t created = 0;
    bool fixed = false;  // one of the browser's own top-level folders, or its root
    std::vector<view_node_t> children;
};

// The browser id -> engine identifier table of one profile and account.
using id_table_t = std::map<std::string, std::string>;

// Builds the browser's tree (without engine identifiers) from its records.
// False, with `error` set, when the records do not form one tree with one
// root, parents before children.
bool read_records(const std::vector<browser_record_t>& records, browser_enum browser,
                  view_node_t& tree, layout_t& layout, std::string& error);

// Gives every node of `tree` its engine identifier: from `table`, else
// (Chromium's stand-ins) from its place and title, else by content from
// `stored`, else a new one. Sets `layout.mobile_root_used` and
// `layout.stand_ins`.
void assign_guids(view_node_t& tree, layout_t& layout, const id_table_t& table,
                  const Core_ZorvaneMerge::zorvane_node_t& stored);

// The engine's tree for the browser's `tree`, with what the browser cannot
// hold taken from `stored` where it stood.
Core_ZorvaneMerge::zorvane_node_t to_engine(const view_node_t& tree, const layout_t& layout,
                                            const Core_ZorvaneMerge::zorvane_node_t& stored);

// What the browser should show of `synced`: the view of the folders it can
// hold, stand-ins included (a stand-in the browser has now, `current` may be
// null, stays even when empty). Browser ids are not set.
view_node_t to_view(const Core_ZorvaneMerge::zorvane_node_t& synced, const layout_t& layout,
                    const view_node_t* current);

// Sets the browser ids of `view` from `table` (inverted) and `layout`. False
// when a node has none (the browser's tree must then be read).
bool fill_ids(view_node_t& view, const layout_t& layout, const id_table_t& table);

// The table of `tree`: every node with a browser id and an engine identifier.
id_table_t table_of(const view_node_t& tree);

// One operation on the browser's bookmarks. A key is a browser id, or "@"
// and the engine identifier of a node an earlier create of the same plan
// made.
struct operation_t {
    enum op_enum { CREATE, UPDATE, MOVE, REMOVE } op = CREATE;
    std::string key;                              // the node (CREATE: its identifier, without "@")
    std::string parent;                           // CREATE, MOVE
    int index = 0;                                // CREATE, MOVE: the position in the parent
    int kind = Core_ZorvaneMerge::NODE_BOOKMARK;  // CREATE
    std::u16string title;                         // CREATE, UPDATE
    std::string url;                              // CREATE, UPDATE: as the browser takes it (UTF-8)
    bool tree = false;                            // REMOVE: a folder with its content
};

// The operations that turn `current` into `target`: creates, moves and
// updates parents first, in the target's order, then the removals (only the
// topmost node of a removed subtree). The browser's top-level folders are
// never created, moved, renamed or removed.
std::vector<operation_t> plan_operations(const view_node_t& current, const view_node_t& target);

}  // namespace Zorvane_Native
