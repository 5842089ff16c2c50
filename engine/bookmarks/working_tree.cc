#include "bookmarks/working_tree.h"

#include <algorithm>
#include <utility>

#include "bookmarks/diff_walk.h"

namespace Core_ZorvaneMerge {
namespace {

void take_fields(zorvane_node_t& into, const zorvane_node_t& from) {
    into.title = from.title;
    into.type = from.type;
    into.description = from.description;
    into.tag = from.tag;
    into.keyword = from.keyword;
    into.url = from.url;
    into.feed_url = from.feed_url;
    into.created = from.created;
    into.modified = from.modified;
}

}  // namespace

working_tree::working_tree(const zorvane_node_t& tree) {
    m_top = make_node(nullptr);
    m_top->data = copy_fields(tree);
    for (const zorvane_node_t& child : tree.children) append_copy(m_top, child, true);
}

working_tree::working_tree(zorvane_node_t&& tree) {
    m_top = make_node(nullptr);
    load_move(m_top, tree);
}

working_node_t* working_tree::make_node(working_node_t* parent) {
    working_node_t& node = m_nodes.emplace_back();
    node.parent = parent;
    if (parent != nullptr) {
        node.order = parent->next_order++;
        parent->kids.push_back(&node);
    }
    return &node;
}

void working_tree::load_move(working_node_t* into, zorvane_node_t& from) {
    std::vector<zorvane_node_t> children = std::move(from.children);
    from.children.clear();
    into->data = std::move(from);
    into->kids.reserve(children.size());
    for (zorvane_node_t& child : children) {
        working_node_t* node = make_node(into);
        load_move(node, child);
        index_node(node);
    }
}

working_node_t* working_tree::append_copy(working_node_t* parent, const zorvane_node_t& from,
                                          bool deep) {
    working_node_t* node = make_node(parent);
    node->data = copy_fields(from);
    index_node(node);
    if (deep) {
        node->kids.reserve(from.children.size());
        for (const zorvane_node_t& child : from.children) append_copy(node, child, true);
    }
    return node;
}

void working_tree::index_node(working_node_t* node) {
    auto [it, inserted] = m_index.try_emplace(std::string_view(node->data.guid), node);
    if (!inserted) {
        node->next_same = it->second;
        it->second->prev_same = node;
        it->second = node;
    }
}

void working_tree::unindex_node(working_node_t* node) {
    if (node->prev_same != nullptr) {
        node->prev_same->next_same = node->next_same;
    } else {
        auto it = m_index.find(std::string_view(node->data.guid));
        if (node->next_same != nullptr) {
            it->second = node->next_same;
        } else {
            m_index.erase(it);
        }
    }
    if (node->next_same != nullptr) node->next_same->prev_same = node->prev_same;
    node->next_same = node->prev_same = nullptr;
}

bool working_tree::precedes(const working_node_t* a, const working_node_t* b) const {
    std::vector<const working_node_t*> chain_a, chain_b;
    for (const working_node_t* n = a; n != nullptr; n = n->parent) chain_a.push_back(n);
    for (const working_node_t* n = b; n != nullptr; n = n->parent) chain_b.push_back(n);
    auto ia = chain_a.rbegin(), ib = chain_b.rbegin();
    while (ia != chain_a.rend() && ib != chain_b.rend() && *ia == *ib) ++ia, ++ib;
    if (ia == chain_a.rend()) return true;   // a is an ancestor of b (or b itself)
    if (ib == chain_b.rend()) return false;  // b is an ancestor of a
    return (*ia)->order < (*ib)->order;
}

working_node_t* working_tree::find_node(std::string_view guid) const {
    if (guid == kRootGuid) return m_top;
    auto it = m_index.find(guid);
    if (it == m_index.end()) return nullptr;
    working_node_t* best = it->second;
    for (working_node_t* n = best->next_same; n != nullptr; n = n->next_same) {
        if (precedes(n, best)) best = n;
    }
    return best;
}

working_node_t* working_tree::find_child(const working_node_t* parent,
                                         std::string_view guid) const {
    auto it = m_index.find(guid);
    if (it == m_index.end()) return nullptr;
    working_node_t* best = nullptr;
    for (working_node_t* n = it->second; n != nullptr; n = n->next_same) {
        if (n->parent == parent && (best == nullptr || n->order < best->order)) best = n;
    }
    return best;
}

void working_tree::apply_path(const zorvane_node_t& fields, std::string_view parent_guid) {
    working_node_t* parent = find_node(parent_guid);
    if (parent == nullptr || find_child(parent, fields.guid) != nullptr) return;
    append_copy(parent, fields, false);
}

void working_tree::apply_put(const zorvane_node_t& node, std::string_view parent_guid) {
    working_node_t* parent = find_node(parent_guid);
    if (parent == nullptr) return;
    if (working_node_t* existing = find_child(parent, node.guid)) {
        take_fields(existing->data, node);
    } else {
        append_copy(parent, node, true);
    }
}

void working_tree::apply_delete(std::string_view guid, std::string_view parent_guid) {
    working_node_t* parent = find_node(parent_guid);
    if (parent == nullptr) return;
    working_node_t* victim = find_child(parent, guid);
    if (victim == nullptr) return;
    victim->live = false;
    std::vector<working_node_t*> pending{victim};
    while (!pending.empty()) {
        working_node_t* n = pending.back();
        pending.pop_back();
        unindex_node(n);
        for (working_node_t* k : n->kids) {
            if (k->live) pending.push_back(k);
        }
    }
}

void working_tree::apply_move(std::string_view guid, std::int32_t position,
                              std::string_view parent_guid) {
    working_node_t* parent = find_node(parent_guid);
    if (parent == nullptr) return;
    working_node_t* child = find_child(parent, guid);
    if (child == nullptr) return;
    compact(parent);
    auto& kids = parent->kids;
    kids.erase(std::find(kids.begin(), kids.end(), child));
    std::size_t target = position < 0 ? 0 : static_cast<std::size_t>(position);
    if (target > kids.size()) target = kids.size();
    kids.insert(kids.begin() + static_cast<std::ptrdiff_t>(target), child);
    for (std::size_t i = 0; i < kids.size(); ++i) kids[i]->order = i;
    parent->next_order = kids.size();
}

void working_tree::compact(working_node_t* node) {
    auto& kids = node->kids;
    kids.erase(std::remove_if(kids.begin(), kids.end(),
                              [](const working_node_t* k) { return !k->live; }),
               kids.end());
}

void working_tree::reorder(working_node_t* node, std::vector<working_node_t*> kids) {
    node->kids = std::move(kids);
    for (std::size_t i = 0; i < node->kids.size(); ++i) node->kids[i]->order = i;
    node->next_order = node->kids.size();
}

zorvane_node_t working_tree::release() {
    m_index.clear();
    struct builder {
        static void build(working_node_t* from, zorvane_node_t& into) {
            into = std::move(from->data);
            std::size_t live = 0;
            for (const working_node_t* k : from->kids) live += k->live ? 1 : 0;
            into.children.resize(live);
            std::size_t i = 0;
            for (working_node_t* k : from->kids) {
                if (k->live) build(k, into.children[i++]);
            }
        }
    };
    zorvane_node_t out;
    builder::build(m_top, out);
    return out;
}

}  // namespace Core_ZorvaneMerge
