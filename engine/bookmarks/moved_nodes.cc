#include "bookmarks/moved_nodes.h"

#include <algorithm>
#include <unordered_map>

#include "bookmarks/tree_compare.h"

namespace Core_ZorvaneMerge {
namespace {

using id_set = std::unordered_set<std::string_view>;

// Where an identifier stands in one input tree.
struct place_t {
    const zorvane_node_t* node = nullptr;
    const zorvane_node_t* parent = nullptr;  // the tree's top for its top-level children
    std::uint32_t count = 0;
};

using place_map = std::unordered_map<std::string_view, place_t>;

// The places of the identifiers below the top of `tree` (of those in `only`,
// when given).
place_map index_tree(const zorvane_node_t& tree, const id_set* only) {
    place_map out;
    std::vector<const zorvane_node_t*> stack{&tree};
    while (!stack.empty()) {
        const zorvane_node_t* n = stack.back();
        stack.pop_back();
        for (const zorvane_node_t& c : n->children) {
            if (only == nullptr || only->count(c.guid) != 0) {
                place_t& p = out[c.guid];
                if (p.count++ == 0) {
                    p.node = &c;
                    p.parent = n;
                }
            }
            if (!c.children.empty()) stack.push_back(&c);
        }
    }
    return out;
}

bool at_most_once(const place_map& places, std::string_view guid) {
    const auto it = places.find(guid);
    return it == places.end() || it->second.count <= 1;
}

void assign_fields(zorvane_node_t& to, const zorvane_node_t& from) {
    to.type = from.type;
    to.title = from.title;
    to.description = from.description;
    to.tag = from.tag;
    to.keyword = from.keyword;
    to.url = from.url;
    to.feed_url = from.feed_url;
    to.created = from.created;
    to.modified = from.modified;
}

struct copy_t {
    zorvane_node_t* node;
    zorvane_node_t* parent;
    std::vector<zorvane_node_t*> ancestors;  // from the top down, the top included
};

// A child of a copy that goes, moving to the copy that stays, and the
// sibling it followed.
struct adoption_t {
    zorvane_node_t* node;
    std::string previous;  // a copy: that sibling may itself move
};

struct group_t {
    std::string_view guid;
    std::vector<copy_t> copies;  // in document order
    const place_t* decider = nullptr;
    const zorvane_node_t* decider_top = nullptr;
    const zorvane_node_t* base = nullptr;
    std::size_t winner = 0;
    bool resolved = true;
};

class resolver {
public:
    resolver(zorvane_node_t& merged, const merge_input& input, const id_set& repeated)
        : m_merged(merged), m_input(input) {
        m_base = index_tree(input.base, &repeated);
        m_local = index_tree(input.local, &repeated);
        m_remote = index_tree(input.remote_tree(), &repeated);
        id_set wanted;
        for (std::string_view g : repeated) {
            if (at_most_once(m_base, g) && at_most_once(m_local, g) && at_most_once(m_remote, g))
                wanted.insert(g);
        }
        if (wanted.empty()) return;
        std::vector<zorvane_node_t*> path{&merged};
        collect(merged, path, wanted);
        for (auto& [guid, group] : m_groups) {
            group.guid = guid;
            // The side that moved the node decides where it stays; the local
            // side when both did, or neither.
            const place_t* base_place = nullptr;
            if (auto b = m_base.find(guid); b != m_base.end()) {
                base_place = &b->second;
                group.base = b->second.node;
            }
            auto moved = [&](const place_t& p, const zorvane_node_t& top) {
                if (base_place == nullptr) return true;
                const bool at_top = p.parent == &top,
                           base_at_top = base_place->parent == &input.base;
                if (at_top || base_at_top) return at_top != base_at_top;
                return p.parent->guid != base_place->parent->guid;
            };
            const auto local = m_local.find(guid);
            const auto remote = m_remote.find(guid);
            const bool local_moved = local != m_local.end() && moved(local->second, input.local);
            const bool remote_moved =
                remote != m_remote.end() && moved(remote->second, input.remote_tree());
            if (local != m_local.end() && (local_moved || !remote_moved)) {
                group.decider = &local->second;
                group.decider_top = &input.local;
            } else if (remote != m_remote.end()) {
                group.decider = &remote->second;
                group.decider_top = &input.remote_tree();
            }
        }
    }

    void run() {
        if (m_groups.empty()) return;
        // Choose, then check that no copy that stays sits in a dropped
        // subtree or below itself; choose again where one does.
        // Shallow groups first: a copy whose parent is a copy that goes is
        // chosen only when no other fits.
        std::vector<group_t*> order;
        for (auto& [guid, group] : m_groups) order.push_back(&group);
        std::sort(order.begin(), order.end(), [](const group_t* a, const group_t* b) {
            if (a->copies[0].ancestors.size() != b->copies[0].ancestors.size())
                return a->copies[0].ancestors.size() < b->copies[0].ancestors.size();
            return a->guid < b->guid;
        });
        for (int round = 0; round < 4; ++round) {
            m_losers.clear();
            for (group_t* group : order) {
                choose(*group);
                if (!group->resolved) continue;
                for (std::size_t i = 0; i < group->copies.size(); ++i) {
                    if (i != group->winner) m_losers.insert(group->copies[i].node);
                }
            }
            plan();
            bool settled = true;
            for (auto& [guid, group] : m_groups) {
                if (!group.resolved) continue;
                const copy_t& w = group.copies[group.winner];
                if (under_dropped(w) || cyclic(group)) {
                    settled = false;
                    m_avoid.insert(w.node);
                    if (round == 2) group.resolved = false;
                }
            }
            if (settled) {
                take_fields();
                // Only folders on the way to a copy change.
                for (auto& [guid, group] : m_groups) {
                    if (!group.resolved) continue;
                    for (const copy_t& c : group.copies) {
                        m_on_the_way.insert(c.node);
                        m_on_the_way.insert(c.ancestors.begin(), c.ancestors.end());
                    }
                }
                rebuild(m_merged);
                return;
            }
        }
        // Could not settle: leave the tree as the merge made it.
    }

private:
    void collect(zorvane_node_t& node, std::vector<zorvane_node_t*>& path, const id_set& wanted) {
        for (zorvane_node_t& c : node.children) {
            if (wanted.count(c.guid) != 0) m_groups[c.guid].copies.push_back({&c, &node, path});
            if (c.children.empty()) continue;
            path.push_back(&c);
            collect(c, path, wanted);
            path.pop_back();
        }
    }

    bool same_parent(const copy_t& copy, const group_t& group) const {
        const zorvane_node_t* p = group.decider->parent;
        if (p == group.decider_top) return copy.parent == &m_merged;
        return copy.parent != &m_merged && copy.parent->guid == p->guid;
    }

    void choose(group_t& group) {
        std::unordered_set<const zorvane_node_t*> copies;
        for (const copy_t& c : group.copies) copies.insert(c.node);
        // Ranks: 0 in the deciding side's folder under a parent that stays,
        // 1 in that folder, 2 under a parent that stays, 3 anywhere else.
        const std::size_t none = group.copies.size();
        std::size_t best[4] = {none, none, none, none};
        for (std::size_t i = 0; i < group.copies.size(); ++i) {
            const copy_t& c = group.copies[i];
            if (m_avoid.count(c.node) != 0) continue;
            bool nested = false;
            for (const zorvane_node_t* a : c.ancestors) nested = nested || copies.count(a) != 0;
            if (nested) continue;
            const bool parent_stays = m_losers.count(c.parent) == 0;
            const bool in_place = group.decider != nullptr && same_parent(c, group);
            const int rank = in_place ? (parent_stays ? 0 : 1) : (parent_stays ? 2 : 3);
            if (best[rank] == none) best[rank] = i;
        }
        std::size_t chosen = none;
        for (std::size_t r : best) {
            if (chosen == none) chosen = r;
        }
        if (chosen == none) {
            group.resolved = false;
            return;
        }
        group.winner = chosen;
    }

    // Losers, dropped children and adoptions from the current choices.
    void plan() {
        m_losers.clear();
        m_winner_of.clear();
        m_dropped.clear();
        m_adopted.clear();
        for (auto& [guid, group] : m_groups) {
            if (!group.resolved) continue;
            for (std::size_t i = 0; i < group.copies.size(); ++i) {
                if (i == group.winner) continue;
                m_losers.insert(group.copies[i].node);
                m_winner_of[group.copies[i].node] = group.copies[group.winner].node;
            }
        }
        for (auto& [guid, group] : m_groups) {
            if (!group.resolved) continue;
            zorvane_node_t* winner = group.copies[group.winner].node;
            for (std::size_t i = 0; i < group.copies.size(); ++i) {
                if (i == group.winner) continue;
                for (zorvane_node_t& c : group.copies[i].node->children) {
                    if (m_losers.count(&c) != 0) continue;
                    if (deleted_by_decider(c, group)) {
                        m_dropped.insert(&c);
                    } else {
                        m_adopted[winner].push_back({&c, previous_kept(*group.copies[i].node, c)});
                    }
                }
            }
        }
    }

    // The identifier of the sibling before `child`; empty when it is first.
    std::string previous_kept(const zorvane_node_t& parent, const zorvane_node_t& child) const {
        std::string out;
        for (const zorvane_node_t& c : parent.children) {
            if (&c == &child) break;
            out = c.guid;
        }
        return out;
    }

    // True when the side that decides where `group`'s node stays deleted
    // `child` (not itself a copy) from it since the base, and deletions
    // count. Had that side moved it elsewhere, `child` would be a copy.
    bool deleted_by_decider(const zorvane_node_t& child, const group_t& group) {
        if (m_input.skip_deletes || group.decider == nullptr || group.base == nullptr) return false;
        if (m_groups.count(child.guid) != 0) return false;
        auto [kids, fresh] = m_base_children.try_emplace(group.base);
        if (fresh) {
            for (const zorvane_node_t& b : group.base->children) kids->second.insert(b.guid);
        }
        if (kids->second.count(child.guid) == 0) return false;
        auto [own, first] = m_base_children.try_emplace(group.decider->node);
        if (first) {
            for (const zorvane_node_t& d : group.decider->node->children)
                own->second.insert(d.guid);
        }
        return own->second.count(child.guid) == 0;
    }

    bool under_dropped(const copy_t& copy) const {
        for (const zorvane_node_t* a : copy.ancestors) {
            if (m_dropped.count(a) != 0) return true;
        }
        return m_dropped.count(copy.node) != 0;
    }

    // True when the copy that stays would end up inside itself: following
    // the nearest removed copy above it to the copy that replaces it, and so
    // on upwards, comes back to it.
    bool cyclic(const group_t& group) const {
        std::unordered_set<const zorvane_node_t*> visited;
        const zorvane_node_t* x = group.copies[group.winner].node;
        for (;;) {
            if (!visited.insert(x).second) return true;
            const copy_t* at = find_copy(x);
            if (at == nullptr) return false;
            const zorvane_node_t* next = nullptr;
            for (auto a = at->ancestors.rbegin(); a != at->ancestors.rend() && next == nullptr;
                 ++a) {
                auto w = m_winner_of.find(*a);
                if (w != m_winner_of.end()) next = w->second;
            }
            if (next == nullptr) return false;
            x = next;
        }
    }

    const copy_t* find_copy(const zorvane_node_t* node) const {
        auto g = m_groups.find(node->guid);
        if (g == m_groups.end()) return nullptr;
        for (const copy_t& c : g->second.copies) {
            if (c.node == node) return &c;
        }
        return nullptr;
    }

    void take_fields() {
        for (auto& [guid, group] : m_groups) {
            if (!group.resolved) continue;
            zorvane_node_t* winner = group.copies[group.winner].node;
            const zorvane_node_t* from = nullptr;
            if (group.decider != nullptr &&
                (group.base == nullptr || !node_equal(*group.decider->node, *group.base))) {
                from = group.decider->node;
            } else if (group.base != nullptr && node_equal(*winner, *group.base)) {
                for (const copy_t& c : group.copies) {
                    if (!node_equal(*c.node, *group.base)) {
                        from = c.node;
                        break;
                    }
                }
            }
            if (from != nullptr && from != winner) m_fields.emplace_back(winner, *from);
        }
        for (auto& [to, from] : m_fields) assign_fields(*to, from);
    }

    // Removes the losing copies and dropped children and appends adopted
    // children, bottom up. Nodes are moved only once; a replaced children
    // sequence is kept alive until the end, because adopted nodes may still
    // live in it.
    void rebuild(zorvane_node_t& n) {
        if (m_on_the_way.count(&n) == 0) return;
        auto adopted = m_adopted.find(&n);
        bool changes = adopted != m_adopted.end();
        for (std::size_t i = 0; i < n.children.size() && !changes; ++i) {
            const zorvane_node_t* c = &n.children[i];
            changes = m_losers.count(c) != 0 || m_dropped.count(c) != 0;
        }
        if (!changes) {
            for (zorvane_node_t& c : n.children) rebuild(c);
            return;
        }
        // Adopted children go right after the sibling they followed, at the
        // front when they were first, at the end when that sibling is gone.
        std::unordered_map<std::string_view, std::vector<zorvane_node_t*>> after;
        std::vector<zorvane_node_t*> front;
        if (adopted != m_adopted.end()) {
            for (const adoption_t& a : adopted->second) {
                rebuild(*a.node);
                (a.previous.empty() ? front : after[a.previous]).push_back(a.node);
            }
        }
        std::vector<zorvane_node_t> kids;
        kids.reserve(n.children.size() + (adopted != m_adopted.end() ? adopted->second.size() : 0));
        std::vector<zorvane_node_t*> pending;
        auto place = [&](zorvane_node_t* node) {
            pending.push_back(node);
            while (!pending.empty()) {
                zorvane_node_t* next = pending.back();
                pending.pop_back();
                auto followers = after.find(next->guid);
                kids.push_back(std::move(*next));
                if (followers == after.end()) continue;
                std::vector<zorvane_node_t*> list = std::move(followers->second);
                after.erase(followers);
                for (auto it = list.rbegin(); it != list.rend(); ++it) pending.push_back(*it);
            }
        };
        for (zorvane_node_t* f : front) place(f);
        for (zorvane_node_t& c : n.children) {
            if (m_losers.count(&c) != 0 || m_dropped.count(&c) != 0) continue;
            rebuild(c);
            place(&c);
        }
        if (adopted != m_adopted.end()) {
            for (const adoption_t& a : adopted->second) {
                auto left = after.find(a.previous);
                if (left == after.end()) continue;
                for (zorvane_node_t* node : left->second) place(node);
                after.erase(left);
            }
        }
        m_graveyard.push_back(std::move(n.children));
        n.children = std::move(kids);
    }

    zorvane_node_t& m_merged;
    const merge_input& m_input;
    place_map m_base, m_local, m_remote;
    std::unordered_map<std::string_view, group_t> m_groups;
    std::unordered_set<const zorvane_node_t*> m_avoid;
    std::unordered_set<const zorvane_node_t*> m_losers;
    std::unordered_map<const zorvane_node_t*, zorvane_node_t*> m_winner_of;
    std::unordered_set<const zorvane_node_t*> m_dropped;
    std::unordered_map<const zorvane_node_t*, std::vector<adoption_t>> m_adopted;
    std::unordered_map<const zorvane_node_t*, id_set> m_base_children;
    std::unordered_set<const zorvane_node_t*> m_on_the_way;
    std::vector<std::pair<zorvane_node_t*, zorvane_node_t>> m_fields;
    std::vector<std::vector<zorvane_node_t>> m_graveyard;
};

}  // namespace

side_moves_t::side_moves_t(const std::vector<const zorvane_node_t*>& deleted,
                           const std::vector<std::string_view>& put, bool base_repeats) {
    if (base_repeats || deleted.empty() || put.empty()) return;
    std::unordered_map<std::string_view, std::pair<const zorvane_node_t*, int>> gone;
    for (const zorvane_node_t* d : deleted) {
        auto& entry = gone[d->guid];
        entry.first = d;
        ++entry.second;
    }
    std::unordered_map<std::string_view, int> puts;
    for (std::string_view g : put) {
        if (gone.count(g) != 0) ++puts[g];
    }
    std::vector<const zorvane_node_t*> stack;
    for (const auto& [g, count] : puts) {
        const auto& entry = gone[g];
        if (count != 1 || entry.second != 1) continue;
        m_moved.insert(g);
        stack.push_back(entry.first);
    }
    // The descendants of the moved nodes, with their parents.
    while (!stack.empty()) {
        const zorvane_node_t* n = stack.back();
        stack.pop_back();
        for (const zorvane_node_t& c : n->children) {
            m_base.emplace(c.guid, base_place_t{&c, n->guid});
            if (!c.children.empty()) stack.push_back(&c);
        }
    }
}

bool side_moves_t::skips_put(const zorvane_node_t& node, std::string_view parent_guid) const {
    if (m_moved.empty()) return false;
    const auto it = m_base.find(node.guid);
    return it != m_base.end() && it->second.parent == parent_guid && !parent_guid.empty() &&
           node_equal(*it->second.node, node);
}

void keep_one_node_per_identifier(zorvane_node_t& merged, const merge_input& input,
                                  const std::vector<std::string>* given) {
    id_set repeated;
    if (given != nullptr) {
        repeated.insert(given->begin(), given->end());
    } else {
        id_set seen;
        std::vector<const zorvane_node_t*> stack{&merged};
        while (!stack.empty()) {
            const zorvane_node_t* n = stack.back();
            stack.pop_back();
            for (const zorvane_node_t& c : n->children) {
                if (!seen.insert(c.guid).second) repeated.insert(c.guid);
                if (!c.children.empty()) stack.push_back(&c);
            }
        }
    }
    if (repeated.empty()) return;
    resolver r(merged, input, repeated);
    r.run();
}

}  // namespace Core_ZorvaneMerge
