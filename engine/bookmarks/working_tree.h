// Internal to engine/bookmarks: a bookmark tree prepared for applying many
// change records quickly.
//
// The tree is held as nodes with parent links and an index from identifier
// to every node carrying it, so that finding a record's parent costs about
// the same whatever the size of the tree. The index gives exactly the answers
// of find_node and find_child (bookmark_node.h) on the equivalent
// zorvane_node_t tree, repeated identifiers included: "ROOT" is the top, any
// other identifier the first match in pre-order below the top.
//
// Removed children stay in their parent's sequence as dead entries until the
// next compaction, so that sibling order numbers stay valid while records are
// applied. Not synchronised.
#pragma once

#include <cstdint>
#include <deque>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "bookmarks/bookmark_node.h"

namespace Core_ZorvaneMerge {

struct working_node_t {
    zorvane_node_t data;                 // own fields; data.children is unused
    working_node_t* parent = nullptr;
    std::vector<working_node_t*> kids;   // in order; may hold dead entries
    std::uint64_t order = 0;             // grows with the position among siblings
    std::uint64_t next_order = 0;        // order of the next appended child
    bool live = true;
    working_node_t* next_same = nullptr; // other indexed nodes with the same identifier
    working_node_t* prev_same = nullptr;
};

class working_tree {
public:
    // Copies `tree` into the working form.
    explicit working_tree(const zorvane_node_t& tree);
    // Takes the fields of `tree` over; `tree` is left with empty fields.
    explicit working_tree(zorvane_node_t&& tree);
    working_tree(const working_tree&) = delete;
    working_tree& operator=(const working_tree&) = delete;

    working_node_t* top() { return m_top; }

    // As find_node and find_child of bookmark_node.h.
    working_node_t* find_node(std::string_view guid) const;
    working_node_t* find_child(const working_node_t* parent, std::string_view guid) const;

    // The four kinds of change record, with the rules of apply_changes
    // (change_list.h). Records whose parent or node is missing do nothing.
    void apply_path(const zorvane_node_t& fields, std::string_view parent_guid);
    void apply_put(const zorvane_node_t& node, std::string_view parent_guid);
    void apply_delete(std::string_view guid, std::string_view parent_guid);
    void apply_move(std::string_view guid, std::int32_t position, std::string_view parent_guid);

    // Drops the dead entries of `node`'s children.
    static void compact(working_node_t* node);
    // Replaces the children of `node` by the same live children in a new
    // order and renumbers them.
    static void reorder(working_node_t* node, std::vector<working_node_t*> kids);

    // The tree in its ordinary form; the working tree is spent afterwards.
    zorvane_node_t release();

private:
    working_node_t* make_node(working_node_t* parent);
    void load_copy(working_node_t* into, const zorvane_node_t& from);
    void load_move(working_node_t* into, zorvane_node_t& from);
    working_node_t* append_copy(working_node_t* parent, const zorvane_node_t& from, bool deep);
    void index_node(working_node_t* node);
    void unindex_node(working_node_t* node);
    bool precedes(const working_node_t* a, const working_node_t* b) const;

    std::deque<working_node_t> m_nodes;
    std::unordered_map<std::string_view, working_node_t*> m_index;
    working_node_t* m_top = nullptr;
};

}  // namespace Core_ZorvaneMerge
