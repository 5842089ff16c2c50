// Internal to engine/bookmarks: nodes a merge finds in two folders at once.
//
// The difference of two trees is taken folder by folder, so a node one side
// moved to another folder shows up as its deletion from the old folder and
// its insertion into the new one. A merge that skips deletions, or that
// meets the node moved by both sides to different folders, or moved by one
// side and changed by the other, would keep it in both places: one
// identifier twice in the tree, and changes inside a moved folder split
// between the copies. The merge therefore keeps a moved node in its old place
// until the end (side_moves_t) and then leaves one node per identifier
// (keep_one_node_per_identifier).
//
// Identifiers that occur more than once in one of the merge's own input trees
// are left alone by both functions: there the copies are the user's own.
#pragma once

#include <string>
#include <string_view>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "bookmarks/merge.h"

namespace Core_ZorvaneMerge {

// What a merge leaves out of one side's records because of that side's moves.
// A node the side moved to another folder (deleted under one parent, put
// under another) is not deleted: keep_one_node_per_identifier removes the old
// copy later. The descendants of a moved folder come as insertions too, since
// the difference is taken folder by folder; those that restate the base (the
// same node under a parent of the same identifier) are left out, so that they
// cannot overwrite the other side's changes to the old copy. Only a node the
// side deletes once and puts once, in a base without repeated identifiers,
// counts as moved.
class side_moves_t {
public:
    side_moves_t() = default;  // no moves
    // `deleted`: the nodes of the side's deletions (in the base, or copies of
    // them); `put`: the identifiers of its insertions. The nodes must outlive
    // this object.
    side_moves_t(const std::vector<const zorvane_node_t*>& deleted,
                 const std::vector<std::string_view>& put, bool base_repeats);

    bool any() const { return !m_moved.empty(); }
    // True for the deletion of a node the side moved.
    bool skips_delete(std::string_view guid) const { return m_moved.count(guid) != 0; }
    // True for an insertion that restates the base inside a moved node.
    bool skips_put(const zorvane_node_t& node, std::string_view parent_guid) const;

private:
    std::unordered_set<std::string_view> m_moved;
    struct base_place_t {
        const zorvane_node_t* node;
        std::string_view parent;
    };
    // The base's descendants of the moved nodes, with their parents.
    std::unordered_map<std::string_view, base_place_t> m_base;
};

// Leaves one node per identifier in `merged`, the result of merging `input`.
// Of the copies of a node, the one in the folder the local side keeps it in
// stays (else the remote side's folder, else the first in document order);
// the others are removed, and their children that are not copies themselves
// move into the copy that stays, after its own children. A child that the
// deciding side deleted since the base is dropped instead, unless
// `input.skip_deletes`. The node that stays takes the deciding side's fields
// when that side changed them since the base, else those of a copy that
// differs from the base. `index` fields are carried as they are.
// Costs one pass over `merged` when no identifier repeats (none when
// `repeated` is given and empty).
// `repeated`, when given, names every identifier that occurs more than once
// in `merged`, which saves a pass.
void keep_one_node_per_identifier(zorvane_node_t& merged, const merge_input& input,
                                  const std::vector<std::string>* repeated = nullptr);

}  // namespace Core_ZorvaneMerge
