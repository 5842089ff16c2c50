#include "bookmarks/change_list.h"

#include <algorithm>

#include "bookmarks/child_locator.h"
#include "bookmarks/diff_walk.h"
#include "bookmarks/working_tree.h"

namespace Core_ZorvaneMerge {
namespace {

constexpr std::size_t kReservedRecords = 1024;

zorvane_node_t materialise(const diff_entry& e) {
    return e.op == change_path ? copy_fields(*e.node) : *e.node;
}

void list_moves(const zorvane_node_t& x, const zorvane_node_t& y, change_list& out) {
    child_locator in_y(&y.children);
    // Nothing moves when every child of x is found, in order, at its own
    // position in y.
    bool in_place = true;
    {
        std::size_t i = 0;
        for (const zorvane_node_t& c : x.children) {
            std::size_t j = in_y.find(c.guid);
            if (j == child_locator::npos) continue;
            if (j != i++) {
                in_place = false;
                break;
            }
        }
    }
    // The order of y's children as the records listed so far leave it.
    std::vector<const zorvane_node_t*> current;
    if (!in_place) {
        current.reserve(y.children.size());
        for (const zorvane_node_t& c : y.children) current.push_back(&c);
    }
    std::size_t i = 0;
    for (const zorvane_node_t& c : x.children) {
        const zorvane_node_t* match = in_y.find_node(c.guid);
        if (match == nullptr) continue;
        if (!in_place) {
            auto at = std::find_if(current.begin(), current.end(),
                                   [&](const zorvane_node_t* n) { return n->guid == c.guid; });
            std::size_t j = static_cast<std::size_t>(at - current.begin());
            if (j != i) {
                change_record move{change_move, c, y.guid};
                move.node.index = static_cast<std::int32_t>(i);
                out.push_back(std::move(move));
                const zorvane_node_t* moved = *at;
                current.erase(at);
                current.insert(current.begin() + static_cast<std::ptrdiff_t>(std::min(i, current.size())),
                               moved);
            }
        }
        ++i;
        list_moves(c, *match, out);
    }
}

}  // namespace

change_list diff_trees(const zorvane_node_t& new_tree, const zorvane_node_t& old_tree) {
    std::vector<diff_entry> entries;
    entries.reserve(kReservedRecords);
    diff_entries(new_tree, old_tree, entries);
    change_list out;
    out.reserve(std::max(kReservedRecords, entries.size()));
    for (const diff_entry& e : entries) out.push_back({e.op, materialise(e), *e.parent_guid});
    return out;
}

change_list moves_between(const zorvane_node_t& new_tree, const zorvane_node_t& old_tree) {
    change_list out;
    out.reserve(kReservedRecords);
    list_moves(new_tree, old_tree, out);
    return out;
}

void apply_changes(zorvane_node_t& tree, const change_list& list, change_filter_enum filter) {
    auto selected = [filter](std::int32_t op) {
        switch (filter) {
            case FILTER_PUT: return op == change_path || op == change_put;
            case FILTER_DELETE: return op == change_delete;
            case FILTER_MOVE: return op == change_move;
        }
        return false;
    };
    if (std::none_of(list.begin(), list.end(),
                     [&](const change_record& r) { return selected(r.op); })) {
        return;
    }
    working_tree work(std::move(tree));
    for (const change_record& r : list) {
        if (!selected(r.op)) continue;
        switch (r.op) {
            case change_path: work.apply_path(r.node, r.parent_guid); break;
            case change_put: work.apply_put(r.node, r.parent_guid); break;
            case change_delete: work.apply_delete(r.node.guid, r.parent_guid); break;
            case change_move: work.apply_move(r.node.guid, r.node.index, r.parent_guid); break;
        }
    }
    tree = work.release();
}

}  // namespace Core_ZorvaneMerge
