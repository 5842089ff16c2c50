#include "bookmarks/literal_merge_testing.h"

#include <algorithm>
#include <functional>
#include <string_view>
#include <unordered_set>

#include "bookmarks/moved_nodes.h"
#include "bookmarks/tree_compare.h"

namespace Core_ZorvaneMerge::literal {
namespace {

zorvane_node_t fields_of(const zorvane_node_t& n) {
    zorvane_node_t out = n;
    out.children.clear();
    return out;
}

void diff_children(const zorvane_node_t& n, const zorvane_node_t* o,
                   std::vector<const zorvane_node_t*>& path, change_list& out) {
    if (o != nullptr) {
        for (const zorvane_node_t& c : o->children) {
            if (find_child(&n, c.guid) == nullptr) out.push_back({change_delete, c, o->guid});
        }
    }
    for (const zorvane_node_t& c : n.children) {
        const zorvane_node_t* match = find_child(o, c.guid);
        if (match == nullptr || !node_equal(*match, c)) {
            for (std::size_t i = 0; i < path.size(); ++i) {
                out.push_back({change_path, fields_of(*path[i]), i == 0 ? "" : path[i - 1]->guid});
            }
            out.push_back({change_put, c, n.guid});
        }
        path.push_back(&c);
        diff_children(c, match, path, out);
        path.pop_back();
    }
}

void moves(const zorvane_node_t& x, const zorvane_node_t& y, change_list& out) {
    // Replays the records on a copy of y's order, so that each record is
    // listed against the order the earlier ones leave.
    std::vector<std::string> current;
    for (const zorvane_node_t& c : y.children) current.push_back(c.guid);
    std::size_t i = 0;
    for (const zorvane_node_t& c : x.children) {
        const zorvane_node_t* match = find_child(&y, c.guid);
        if (match == nullptr) continue;
        std::size_t j = static_cast<std::size_t>(std::find(current.begin(), current.end(), c.guid) -
                                                 current.begin());
        if (j != i) {
            change_record r{change_move, c, y.guid};
            r.node.index = static_cast<std::int32_t>(i);
            out.push_back(r);
            std::string moved = current[j];
            current.erase(current.begin() + static_cast<std::ptrdiff_t>(j));
            current.insert(
                current.begin() + static_cast<std::ptrdiff_t>(std::min(i, current.size())), moved);
        }
        ++i;
        moves(c, *match, out);
    }
}

void apply_one(zorvane_node_t& tree, const change_record& r) {
    zorvane_node_t* parent = find_node(tree, r.parent_guid);
    if (parent == nullptr) return;
    std::size_t pos = 0;
    zorvane_node_t* child = find_child(parent, r.node.guid, &pos);
    auto& kids = parent->children;
    switch (r.op) {
        case change_path:
            if (child == nullptr) kids.push_back(fields_of(r.node));
            break;
        case change_put:
            if (child == nullptr) {
                kids.push_back(r.node);
            } else {
                child->title = r.node.title;
                child->type = r.node.type;
                child->description = r.node.description;
                child->tag = r.node.tag;
                child->keyword = r.node.keyword;
                child->url = r.node.url;
                child->feed_url = r.node.feed_url;
                child->created = r.node.created;
                child->modified = r.node.modified;
            }
            break;
        case change_delete:
            if (child != nullptr) kids.erase(kids.begin() + static_cast<std::ptrdiff_t>(pos));
            break;
        case change_move:
            if (child != nullptr) {
                zorvane_node_t moved = std::move(*child);
                kids.erase(kids.begin() + static_cast<std::ptrdiff_t>(pos));
                std::int64_t k = std::max<std::int64_t>(0, r.node.index);
                if (k > static_cast<std::int64_t>(kids.size()))
                    k = static_cast<std::int64_t>(kids.size());
                kids.insert(kids.begin() + k, std::move(moved));
            }
            break;
    }
}

// The position of the side's `occurrence`-th child (from 0) with `guid`, or -1.
long rank_on(const zorvane_node_t& side, const std::string& guid, std::size_t occurrence) {
    for (std::size_t i = 0; i < side.children.size(); ++i) {
        if (side.children[i].guid == guid && occurrence-- == 0) return static_cast<long>(i);
    }
    return -1;
}

bool reordered(const zorvane_node_t& side, const zorvane_node_t& base) {
    std::vector<std::string> s, b;
    for (const auto& c : side.children) {
        if (find_child(&base, c.guid) != nullptr) s.push_back(c.guid);
    }
    for (const auto& c : base.children) {
        if (find_child(&side, c.guid) != nullptr) b.push_back(c.guid);
    }
    return s != b;
}

// The children a side has follow its order; each other child stays at the
// front, at the end, or behind the child it followed.
void arrange(std::vector<zorvane_node_t>& kids, const zorvane_node_t& side) {
    std::vector<long> rank;
    for (std::size_t i = 0; i < kids.size(); ++i) {
        std::size_t occurrence = 0;
        for (std::size_t j = 0; j < i; ++j) occurrence += kids[j].guid == kids[i].guid ? 1 : 0;
        rank.push_back(rank_on(side, kids[i].guid, occurrence));
    }
    long first = -1, last = -1;
    for (std::size_t i = 0; i < kids.size(); ++i) {
        if (rank[i] >= 0) {
            if (first < 0) first = static_cast<long>(i);
            last = static_cast<long>(i);
        }
    }
    if (first < 0) return;
    // Each ranked child with the unranked ones behind it (up to the next
    // ranked child; nothing for the last one).
    std::vector<std::vector<std::size_t>> groups;
    for (long i = first; i <= last; ++i) {
        if (rank[static_cast<std::size_t>(i)] >= 0) {
            groups.push_back({static_cast<std::size_t>(i)});
        } else {
            groups.back().push_back(static_cast<std::size_t>(i));
        }
    }
    std::vector<zorvane_node_t> out;
    for (long i = 0; i < first; ++i) out.push_back(kids[static_cast<std::size_t>(i)]);
    // Selection by smallest rank, the earlier group first among equals.
    std::vector<bool> used(groups.size(), false);
    for (std::size_t n = 0; n < groups.size(); ++n) {
        std::size_t best = groups.size();
        for (std::size_t g = 0; g < groups.size(); ++g) {
            if (used[g]) continue;
            if (best == groups.size() || rank[groups[g][0]] < rank[groups[best][0]]) best = g;
        }
        used[best] = true;
        for (std::size_t i : groups[best]) out.push_back(kids[i]);
    }
    for (std::size_t i = static_cast<std::size_t>(last) + 1; i < kids.size(); ++i)
        out.push_back(kids[i]);
    kids = out;
}

void order_children(zorvane_node_t& folder, const zorvane_node_t* base,
                    const zorvane_node_t* remote, const zorvane_node_t* local) {
    bool local_reordered = local && base && reordered(*local, *base);
    bool remote_reordered = !local_reordered && remote && base && reordered(*remote, *base);
    if (remote_reordered) {
        if (local) arrange(folder.children, *local);
        arrange(folder.children, *remote);
    } else {
        if (remote) arrange(folder.children, *remote);
        if (local) arrange(folder.children, *local);
    }
    for (zorvane_node_t& c : folder.children) {
        order_children(c, find_child(base, c.guid), find_child(remote, c.guid),
                       find_child(local, c.guid));
    }
}

void prune(std::vector<zorvane_node_t>& seq, std::vector<std::string>& kept) {
    for (std::size_t i = 0; i < seq.size();) {
        zorvane_node_t& e = seq[i];
        if (e.guid != kMenuGuid) {
            if (is_kernel_node(e)) {
                e.children.clear();
            } else if (e.type != NODE_QUERY) {
                seq.erase(seq.begin() + static_cast<std::ptrdiff_t>(i));
                continue;
            } else {
                kept.push_back(e.url);
            }
        } else {
            prune(e.children, kept);
        }
        ++i;
    }
}

void drop_queries(std::vector<zorvane_node_t>& seq, const std::vector<std::string>& kept) {
    for (std::size_t i = 0; i < seq.size();) {
        zorvane_node_t& e = seq[i];
        if (e.guid != kMenuGuid) {
            if (e.type == NODE_QUERY && std::find(kept.begin(), kept.end(), e.url) != kept.end()) {
                seq.erase(seq.begin() + static_cast<std::ptrdiff_t>(i));
                continue;
            }
        } else {
            drop_queries(e.children, kept);
        }
        ++i;
    }
}

void tidy(zorvane_node_t& node) {
    bool previous_separator = false;
    for (std::size_t i = 0; i < node.children.size();) {
        zorvane_node_t& c = node.children[i];
        if (c.type == NODE_SEPARATOR && previous_separator) {
            node.children.erase(node.children.begin() + static_cast<std::ptrdiff_t>(i));
            continue;
        }
        if (c.type == NODE_FOLDER) tidy(c);
        previous_separator = c.type == NODE_SEPARATOR;
        ++i;
    }
    if (!node.children.empty() && node.children.back().type == NODE_SEPARATOR) {
        node.children.pop_back();
    }
}

}  // namespace

change_list diff_trees(const zorvane_node_t& new_tree, const zorvane_node_t& old_tree) {
    change_list out;
    out.reserve(1024);
    if (!node_equal(new_tree, old_tree)) out.push_back({change_put, new_tree, ""});
    std::vector<const zorvane_node_t*> path{&new_tree};
    diff_children(new_tree, &old_tree, path, out);
    return out;
}

change_list moves_between(const zorvane_node_t& new_tree, const zorvane_node_t& old_tree) {
    change_list out;
    moves(new_tree, old_tree, out);
    return out;
}

void apply_changes(zorvane_node_t& tree, const change_list& list, change_filter_enum filter) {
    for (const change_record& r : list) {
        bool selected = (filter == FILTER_PUT && (r.op == change_path || r.op == change_put)) ||
                        (filter == FILTER_DELETE && r.op == change_delete) ||
                        (filter == FILTER_MOVE && r.op == change_move);
        if (selected) apply_one(tree, r);
    }
}

// True when an identifier occurs twice below the top of `tree`.
static bool base_repeats(const zorvane_node_t& tree) {
    std::unordered_set<std::string_view> seen;
    std::function<bool(const zorvane_node_t&)> walk = [&](const zorvane_node_t& n) {
        for (const zorvane_node_t& c : n.children) {
            if (!seen.insert(c.guid).second || walk(c)) return true;
        }
        return false;
    };
    return walk(tree);
}

// `list` without what the merge leaves out because of the side's moves
// (moved_nodes.h).
change_list without_moves(const change_list& list, const merge_input& input) {
    std::vector<const zorvane_node_t*> deleted;
    std::vector<std::string_view> put;
    for (const change_record& r : list) {
        if (r.op == change_delete) deleted.push_back(&r.node);
        if (r.op == change_put) put.push_back(r.node.guid);
    }
    const side_moves_t moves(deleted, put, base_repeats(input.base));
    change_list out;
    for (const change_record& r : list) {
        if (r.op == change_delete && moves.skips_delete(r.node.guid)) continue;
        if (r.op == change_put && moves.skips_put(r.node, r.parent_guid)) continue;
        out.push_back(r);
    }
    return out;
}

void merge_trees(const merge_input& input, zorvane_node_t& out) {
    zorvane_node_t result = input.base;
    change_list local_changes = literal::diff_trees(input.local, result);
    change_list remote_changes = literal::diff_trees(input.remote, result);
    remote_changes = without_moves(remote_changes, input);
    local_changes = without_moves(local_changes, input);
    if (!input.skip_deletes) {
        literal::apply_changes(result, remote_changes, FILTER_DELETE);
        literal::apply_changes(result, local_changes, FILTER_DELETE);
    }
    literal::apply_changes(result, remote_changes, FILTER_PUT);
    literal::apply_changes(result, local_changes, FILTER_PUT);
    order_children(result, &input.base, &input.remote, &input.local);
    keep_one_node_per_identifier(result, input);
    out = result;
}

void adopt_incoming(const adopt_input& input, zorvane_node_t& out) {
    if (input.client_type == "FIREFOX" || input.client_type == "WEB") {
        out = input.incoming;
        return;
    }
    zorvane_node_t result = input.local;
    zorvane_node_t r = input.incoming;
    std::vector<std::string> kept;
    prune(result.children, kept);
    drop_queries(r.children, kept);
    literal::apply_changes(result, literal::diff_trees(r, result), FILTER_PUT);
    tidy(result);
    out = result;
}

}  // namespace Core_ZorvaneMerge::literal
