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

bool unique_identifiers(const std::vector<zorvane_node_t>& children, const child_locator& locator) {
    for (std::size_t k = 0; k < children.size(); ++k) {
        if (locator.find(children[k].guid) != k) return false;
    }
    return true;
}

void list_moves(const zorvane_node_t& x, const zorvane_node_t& y, change_list& out) {
    child_locator in_y(&y.children);
    child_locator in_x(&x.children);
    // After i records, y's children are the first i matched children of x in
    // x's order, followed by the rest of y's children in their first order.
    // Without repeated identifiers a child is therefore already in place
    // exactly when it is the first of that rest; with repeats, the order is
    // replayed one record at a time.
    const bool unique =
        unique_identifiers(y.children, in_y) && unique_identifiers(x.children, in_x);
    std::vector<bool> placed;
    std::size_t first_rest = 0;
    std::vector<const zorvane_node_t*> current;
    if (unique) {
        placed.assign(y.children.size(), false);
    } else {
        current.reserve(y.children.size());
        for (const zorvane_node_t& c : y.children) current.push_back(&c);
    }
    std::size_t i = 0;
    for (const zorvane_node_t& c : x.children) {
        const std::size_t found = in_y.find(c.guid);
        if (found == child_locator::npos) continue;
        const zorvane_node_t& match = y.children[found];
        bool in_place;
        if (unique) {
            in_place = found == first_rest;
            placed[found] = true;
            while (first_rest < placed.size() && placed[first_rest]) ++first_rest;
        } else {
            auto at = std::find_if(current.begin(), current.end(),
                                   [&](const zorvane_node_t* n) { return n->guid == c.guid; });
            in_place = static_cast<std::size_t>(at - current.begin()) == i;
            if (!in_place) {
                const zorvane_node_t* moved = *at;
                current.erase(at);
                current.insert(
                    current.begin() + static_cast<std::ptrdiff_t>(std::min(i, current.size())),
                    moved);
            }
        }
        if (!in_place) {
            change_record move{change_move, c, y.guid};
            move.node.index = static_cast<std::int32_t>(i);
            out.push_back(std::move(move));
        }
        ++i;
        list_moves(c, match, out);
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
            case FILTER_PUT:
                return op == change_path || op == change_put;
            case FILTER_DELETE:
                return op == change_delete;
            case FILTER_MOVE:
                return op == change_move;
        }
        return false;
    };
    if (std::none_of(list.begin(), list.end(),
                     [&](const change_record& r) { return selected(r.op); })) {
        return;
    }
    zorvane_node_t source = std::move(tree);
    working_tree work(source, true);
    for (const change_record& r : list) {
        if (!selected(r.op)) continue;
        switch (r.op) {
            case change_path:
                work.apply_path(r.node, r.parent_guid);
                break;
            case change_put:
                work.apply_put(r.node, r.parent_guid);
                break;
            case change_delete:
                work.apply_delete(r.node.guid, r.parent_guid);
                break;
            case change_move:
                work.apply_move(r.node.guid, r.node.index, r.parent_guid);
                break;
        }
    }
    tree = work.release();
}

}  // namespace Core_ZorvaneMerge
