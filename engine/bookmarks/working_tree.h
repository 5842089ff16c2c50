// Internal to engine/bookmarks: a bookmark tree prepared for applying many
// change records quickly.
//
// The working tree is a skeleton over existing nodes: each working node
// points to the zorvane_node_t whose own fields it currently has (the source
// tree, or the record that last updated or added it) and keeps only its
// position, `index`, parent and children itself. Nothing is copied until
// release() builds the result. An index from identifier to every node
// carrying it makes finding a record's parent cost about the same whatever the
// size of the tree, and gives exactly the answers of find_node and find_child
// (bookmark_node.h) on the equivalent tree, repeated identifiers included:
// "ROOT" is the top, any other identifier the first match in pre-order below
// the top.
//
// Every node a working tree points to (the source tree and the nodes of the
// applied records) must stay alive and unchanged until release(). Removed
// children stay in their parent's sequence as dead entries until the next
// compaction, so that sibling order numbers stay valid while records are
// applied. Not synchronised.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "bookmarks/bookmark_node.h"

namespace Core_ZorvaneMerge {

struct working_node_t {
    const zorvane_node_t* fields = nullptr;  // own fields (children there are ignored)
    working_node_t* parent = nullptr;
    std::vector<working_node_t*> kids;    // in order; may hold dead entries
    working_node_t* next_same = nullptr;  // other indexed nodes with the same identifier
    working_node_t* prev_same = nullptr;
    std::uint32_t order = 0;       // grows with the position among siblings
    std::uint32_t next_order = 0;  // order of the next appended child
    std::int32_t index = 0;
    bool live = true;
    bool movable = false;  // `fields` may be moved from on release

    const std::string& guid() const { return fields->guid; }
};

class working_tree {
public:
    // A working tree over `tree`, which must outlive it. With `movable`, the
    // caller gives up `tree`: release() moves its strings instead of copying.
    working_tree(const zorvane_node_t& tree, bool movable);
    ~working_tree();
    working_tree(const working_tree&) = delete;
    working_tree& operator=(const working_tree&) = delete;

    working_node_t* top() { return m_top; }

    // True when some identifier occurred more than once in the source tree
    // (below its top).
    bool source_has_repeats() const { return m_source_repeats; }
    // True when, at any time since construction, a node was indexed while
    // another live node carried its identifier (the source's repeats
    // included). False promises that no identifier occurs twice now.
    bool repeats_seen() const { return m_source_repeats; }
    // The identifiers that more than one live node carries now.
    std::vector<std::string> repeated_identifiers() const;

    // As find_node and find_child of bookmark_node.h.
    working_node_t* find_node(std::string_view guid) const;
    working_node_t* find_child(const working_node_t* parent, std::string_view guid) const;

    // The four kinds of change record, with the rules of apply_changes
    // (change_list.h). Records whose parent or node is missing do nothing.
    // `node` must stay alive until release().
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
    struct slot_t;

    working_node_t* make_node(working_node_t* parent, const zorvane_node_t* fields);
    void load(working_node_t* into, const zorvane_node_t& from, bool movable);
    working_node_t* append_copy(working_node_t* parent, const zorvane_node_t& from, bool deep);
    void index_node(working_node_t* node);
    void unindex_node(working_node_t* node);
    slot_t* lookup(std::string_view guid, std::size_t hash) const;
    void grow_index();
    bool precedes(const working_node_t* a, const working_node_t* b) const;

    // Nodes live in fixed-size chunks, so their addresses never change.
    std::vector<std::unique_ptr<working_node_t[]>> m_chunks;
    std::size_t m_chunk_used = 0;
    // Open-addressing table from identifier to the first node of its list;
    // entries are never removed (an empty list has a null head).
    struct slot_t {
        std::size_t hash = 0;
        std::string_view key;
        working_node_t* head = nullptr;
        bool used = false;
    };
    std::vector<slot_t> m_slots;
    std::size_t m_slots_used = 0;
    working_node_t* m_top = nullptr;
    bool m_source_repeats = false;
};

}  // namespace Core_ZorvaneMerge
