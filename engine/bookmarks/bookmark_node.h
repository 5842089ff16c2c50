// Public engine surface: the bookmark tree.
//
// `zorvane_node_t` is one node of a bookmark tree and, through `children`,
// the whole subtree below it. It is a value type: copying a node copies its
// entire subtree and assignment replaces it. The same type holds the tree the
// browser hands over, the tree from the server, the last synchronised tree
// and every intermediate tree of a merge. Its document form is in
// tree_xml.h, the rules for its addresses in url_forms.h.
//
// Identifiers are compared byte for byte, case-sensitively. The top of a
// tree is addressed by the parent identifier "ROOT" in every lookup, whatever
// its own identifier.
//
// Not synchronised: a tree is used by one thread at a time.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace Core_ZorvaneMerge {

// Node kinds (`zorvane_node_t::type`). 0 means "no node".
enum node_type_enum : std::int32_t {
    NODE_NONE = 0,
    NODE_FOLDER = 1,
    NODE_BOOKMARK = 2,
    NODE_QUERY = 3,
    NODE_FEED = 4,
    NODE_SEPARATOR = 5,
    NODE_NOTE = 6,
};

// Identifiers of the fixed containers of the browser's bookmark store.
inline constexpr std::string_view kRootGuid = "ROOT";
inline constexpr std::string_view kToolbarGuid = "BOOKMARK_TOOLBAR";
inline constexpr std::string_view kMenuGuid = "BOOKMARK_MENU";
inline constexpr std::string_view kUnfiledGuid = "BOOKMARK_UNFILED";
inline constexpr std::string_view kNotesGuid = "BOOKMARK_NOTES";

// The deepest a tree may nest: the top at depth 0, its children at depth 1,
// and so on. Browsers nest a handful of levels; the readers of trees (the
// document form, the local record, bookmark-file HTML) refuse deeper ones,
// and the merge refuses them too, so the recursive walks over trees stay
// far from the end of the stack. The document form of such a tree nests
// 2 * depth + 3 elements, within the XML library's bound of 257.
inline constexpr std::size_t kMaxTreeDepth = 100;

struct zorvane_node_t {
    std::string guid;            // unique within a tree (by expectation, not enforced)
    std::int32_t type = 0;       // node_type_enum; other values have no name
    std::u16string title;        // display name
    std::u16string description;  // for a note: the note's body
    std::u16string tag;          // tags, as one string
    std::u16string keyword;
    std::string url;                       // stored form (url_forms.h)
    std::string feed_url;                  // stored form, feeds only
    std::int64_t created = 0;              // carried through, never interpreted
    std::int64_t modified = 0;             // carried through, never interpreted
    std::int32_t index = 0;                // position among the parent's children when read
    std::vector<zorvane_node_t> children;  // in display order

    zorvane_node_t() = default;
    zorvane_node_t(std::int32_t node_type, std::string node_guid)
        : guid(std::move(node_guid)), type(node_type) {}
};

// The name of a kind in the document form ("folder", "bookmark", "query",
// "feed", "separator", "note"); empty for 0 and unknown codes.
std::string type_name(std::int32_t type);

// The code of an exact, case-sensitive kind name; 0 for anything else.
std::int32_t type_from_name(std::string_view name);

// True for a folder (type 1) whose identifier is one of "ROOT",
// "BOOKMARK_TOOLBAR", "BOOKMARK_MENU", "BOOKMARK_UNFILED", "BOOKMARK_NOTES".
bool is_kernel_node(const zorvane_node_t& node);

// The node of `tree` whose identifier is `guid`. "ROOT" gives `tree` itself
// (and nothing else, even a descendant named "ROOT"); any other identifier is
// searched depth first in pre-order below the top, so the first match in
// document order wins and the top is never found by its own identifier.
// Returns nullptr when nothing matches. The pointer stays valid until the
// `children` sequence holding the node is modified.
zorvane_node_t* find_node(zorvane_node_t& tree, std::string_view guid);
const zorvane_node_t* find_node(const zorvane_node_t& tree, std::string_view guid);

// True when no node of `tree` lies deeper than `max_depth` (the top is at
// depth 0). Walks without recursion and stops at the first node too deep.
bool within_depth(const zorvane_node_t& tree, std::size_t max_depth = kMaxTreeDepth);

// The first direct child of `node` whose identifier is `guid`, or nullptr
// (also when `node` is nullptr). When found and `position` is not nullptr,
// stores the child's 0-based position there; otherwise leaves it untouched.
zorvane_node_t* find_child(zorvane_node_t* node, std::string_view guid,
                           std::size_t* position = nullptr);
const zorvane_node_t* find_child(const zorvane_node_t* node, std::string_view guid,
                                 std::size_t* position = nullptr);

// The same for a node that exists.
zorvane_node_t* find_child(zorvane_node_t& node, std::string_view guid);
const zorvane_node_t* find_child(const zorvane_node_t& node, std::string_view guid);

}  // namespace Core_ZorvaneMerge
