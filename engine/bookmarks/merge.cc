#include "bookmarks/merge.h"

#include <string_view>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "bookmarks/change_list.h"
#include "bookmarks/child_locator.h"
#include "bookmarks/diff_walk.h"
#include "bookmarks/moved_nodes.h"
#include "bookmarks/sibling_order.h"
#include "bookmarks/working_tree.h"

namespace Core_ZorvaneMerge {
namespace {

bool same_identifiers(const std::vector<working_node_t*>& kids,
                      const std::vector<zorvane_node_t>& side) {
    if (kids.size() != side.size()) return false;
    for (std::size_t i = 0; i < kids.size(); ++i) {
        if (kids[i]->guid() != side[i].guid) return false;
    }
    return true;
}

bool reordered(const zorvane_node_t& side, const zorvane_node_t& base) {
    const auto& s = side.children;
    const auto& b = base.children;
    child_locator in_side(&s), in_base(&b);
    std::vector<std::string_view> sv, bv;
    sv.reserve(s.size());
    bv.reserve(b.size());
    for (const auto& c : s) sv.push_back(c.guid);
    for (const auto& c : b) bv.push_back(c.guid);
    return shared_order_differs(
        sv, bv, [&](std::string_view g) { return in_side.find(g) != child_locator::npos; },
        [&](std::string_view g) { return in_base.find(g) != child_locator::npos; });
}

void arrange(working_node_t* folder, const zorvane_node_t& side) {
    if (same_identifiers(folder->kids, side.children)) return;
    // The k-th child here with an identifier stands for the side's k-th
    // child with that identifier.
    std::unordered_map<std::string_view, std::vector<std::size_t>> positions;
    positions.reserve(side.children.size());
    for (std::size_t i = 0; i < side.children.size(); ++i) {
        positions[side.children[i].guid].push_back(i);
    }
    std::unordered_map<std::string_view, std::size_t> seen;
    std::vector<working_node_t*> kids = folder->kids;
    arrange_by_side(kids, [&](const working_node_t* k) {
        auto it = positions.find(k->guid());
        if (it == positions.end()) return kNotOnSide;
        std::size_t occurrence = seen[k->guid()]++;
        return occurrence < it->second.size() ? it->second[occurrence] : kNotOnSide;
    });
    working_tree::reorder(folder, std::move(kids));
}

bool same_sequence(const std::vector<zorvane_node_t>& a, const std::vector<zorvane_node_t>& b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(),
                                              [](const zorvane_node_t& x, const zorvane_node_t& y) {
                                                  return x.guid == y.guid;
                                              });
}

// Orders the children of `folder` and, recursively, of its subfolders; `base`,
// `remote` and `local` are the folders at the same place in the three input
// trees, or nullptr where a tree has none. `base_repeats` tells whether an
// identifier occurs twice in the base tree.
void order_children(working_node_t* folder, const zorvane_node_t* base,
                    const zorvane_node_t* remote, const zorvane_node_t* local, bool base_repeats) {
    working_tree::compact(folder);
    if (folder->kids.empty()) return;
    // A side whose children are the base's, in the base's order, neither
    // reordered nor added anything here.
    const bool local_as_base = local && base && same_sequence(local->children, base->children);
    const bool remote_as_base = remote && base && same_sequence(remote->children, base->children);
    const bool local_reordered = local && base && !local_as_base && reordered(*local, *base);
    const bool remote_reordered =
        !local_reordered && remote && base && !remote_as_base && reordered(*remote, *base);
    // The deciding side goes last; the other side places what only it has.
    const zorvane_node_t* first = remote_reordered ? local : remote;
    const zorvane_node_t* last = remote_reordered ? remote : local;
    if (first != nullptr) arrange(folder, *first);
    if (last != nullptr) arrange(folder, *last);

    // Without repeated identifiers, children that stand where they stood in
    // the base are matched by position.
    const bool by_position =
        !base_repeats && base && same_identifiers(folder->kids, base->children);
    child_locator in_base(base ? &base->children : nullptr);
    child_locator in_remote(remote ? &remote->children : nullptr);
    child_locator in_local(local ? &local->children : nullptr);
    for (std::size_t k = 0; k < folder->kids.size(); ++k) {
        working_node_t* kid = folder->kids[k];
        if (kid->kids.empty()) continue;
        const std::string& g = kid->guid();
        const zorvane_node_t* b = by_position ? &base->children[k] : in_base.find_node(g);
        const zorvane_node_t* r =
            by_position && remote_as_base ? &remote->children[k] : in_remote.find_node(g);
        const zorvane_node_t* l =
            by_position && local_as_base ? &local->children[k] : in_local.find_node(g);
        order_children(kid, b, r, l, base_repeats);
    }
}

// What the side of `entries` moved to another folder.
side_moves_t moves_of(const std::vector<diff_entry>& entries, bool base_repeats) {
    std::vector<const zorvane_node_t*> deleted;
    std::vector<std::string_view> put;
    for (const diff_entry& e : entries) {
        if (e.op == change_delete) deleted.push_back(e.node);
        if (e.op == change_put) put.push_back(e.node->guid);
    }
    return side_moves_t(deleted, put, base_repeats);
}

void apply_entries(working_tree& work, const std::vector<diff_entry>& entries, bool deletes,
                   const side_moves_t& moves = side_moves_t()) {
    for (const diff_entry& e : entries) {
        if (deletes) {
            if (e.op == change_delete && !moves.skips_delete(e.node->guid))
                work.apply_delete(e.node->guid, *e.parent_guid);
        } else if (e.op == change_path) {
            work.apply_path(*e.node, *e.parent_guid);
        } else if (e.op == change_put) {
            if (!moves.skips_put(*e.node, *e.parent_guid)) work.apply_put(*e.node, *e.parent_guid);
        }
    }
}

void prune_to_skeleton(std::vector<zorvane_node_t>& seq, std::vector<std::string>& kept) {
    std::vector<zorvane_node_t> out;
    out.reserve(seq.size());
    for (zorvane_node_t& e : seq) {
        if (e.guid == kMenuGuid) {
            prune_to_skeleton(e.children, kept);
        } else if (is_kernel_node(e)) {
            e.children.clear();
        } else if (e.type != NODE_QUERY) {
            continue;
        } else {
            kept.push_back(e.url);
        }
        out.push_back(std::move(e));
    }
    seq = std::move(out);
}

void drop_duplicate_queries(std::vector<zorvane_node_t>& seq,
                            const std::unordered_set<std::string>& kept) {
    std::vector<zorvane_node_t> out;
    out.reserve(seq.size());
    for (zorvane_node_t& e : seq) {
        if (e.guid == kMenuGuid) {
            drop_duplicate_queries(e.children, kept);
        } else if (e.type == NODE_QUERY && kept.count(e.url) != 0) {
            continue;
        }
        out.push_back(std::move(e));
    }
    seq = std::move(out);
}

void tidy_separators(zorvane_node_t& node) {
    std::vector<zorvane_node_t> out;
    out.reserve(node.children.size());
    bool after_separator = false;
    for (zorvane_node_t& c : node.children) {
        if (c.type == NODE_SEPARATOR && after_separator) continue;
        if (c.type == NODE_FOLDER) tidy_separators(c);
        after_separator = c.type == NODE_SEPARATOR;
        out.push_back(std::move(c));
    }
    if (!out.empty() && out.back().type == NODE_SEPARATOR) out.pop_back();
    node.children = std::move(out);
}

}  // namespace

bool merge_trees(const merge_input& input, zorvane_node_t& out) {
    // The walks below recurse along the folders; trees this deep come from
    // no reader of this system.
    if (!within_depth(input.remote_tree()) || !within_depth(input.base) ||
        !within_depth(input.local)) {
        out = zorvane_node_t(0, "");
        return false;
    }
    working_tree work(input.base, false);
    const bool repeats = work.source_has_repeats();
    std::vector<diff_entry> local_changes, remote_changes;
    local_changes.reserve(1024);
    remote_changes.reserve(1024);
    diff_entries(input.local, input.base, local_changes, repeats);
    diff_entries(input.remote_tree(), input.base, remote_changes, repeats);
    // A node a side moved to another folder stays in its old place too
    // until the end, so that the other side's changes inside it are kept.
    const side_moves_t remote_moves = moves_of(remote_changes, repeats);
    const side_moves_t local_moves = moves_of(local_changes, repeats);
    if (!input.skip_deletes) {
        apply_entries(work, remote_changes, true, remote_moves);
        apply_entries(work, local_changes, true, local_moves);
    }
    apply_entries(work, remote_changes, false, remote_moves);
    apply_entries(work, local_changes, false, local_moves);
    order_children(work.top(), &input.base, &input.remote_tree(), &input.local, repeats);
    std::vector<std::string> repeated;
    if (work.repeats_seen()) repeated = work.repeated_identifiers();
    out = work.release();
    if (!repeated.empty()) keep_one_node_per_identifier(out, input, &repeated);
    return true;
}

bool adopt_incoming(const adopt_input& input, zorvane_node_t& out) {
    if (!within_depth(input.incoming) || !within_depth(input.local)) {
        out = zorvane_node_t(0, "");
        return false;
    }
    if (input.client_type == "FIREFOX" || input.client_type == "WEB") {
        out = input.incoming;
        return true;
    }
    zorvane_node_t result = input.local;
    zorvane_node_t incoming = input.incoming;
    std::vector<std::string> kept;
    prune_to_skeleton(result.children, kept);
    drop_duplicate_queries(incoming.children,
                           std::unordered_set<std::string>(kept.begin(), kept.end()));

    std::vector<diff_entry> puts;
    diff_entries(incoming, result, puts);
    working_tree work(result, true);
    apply_entries(work, puts, false);
    result = work.release();
    tidy_separators(result);
    out = std::move(result);
    return true;
}

}  // namespace Core_ZorvaneMerge
