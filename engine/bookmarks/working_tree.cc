#include "bookmarks/working_tree.h"

#include <algorithm>
#include <functional>
#include <utility>

namespace Core_ZorvaneMerge {
namespace {

constexpr std::size_t kChunkSize = 4096;

std::size_t hash_of(std::string_view s) { return std::hash<std::string_view>{}(s); }

}  // namespace

working_tree::working_tree(const zorvane_node_t& tree, bool movable) {
    m_top = make_node(nullptr, &tree);
    m_top->movable = movable;
    load(m_top, tree, movable);
    // Index everything below the top now that the number of nodes is known.
    const std::size_t count = (m_chunks.size() - 1) * kChunkSize + m_chunk_used;
    std::size_t capacity = 64;
    while (capacity < count * 2) capacity *= 2;
    m_slots.resize(capacity);
    for (std::size_t c = 0; c < m_chunks.size(); ++c) {
        const std::size_t used = c + 1 == m_chunks.size() ? m_chunk_used : kChunkSize;
        for (std::size_t i = 0; i < used; ++i) {
            working_node_t* node = &m_chunks[c][i];
            if (node != m_top) index_node(node);
        }
    }
}

working_tree::~working_tree() = default;

working_node_t* working_tree::make_node(working_node_t* parent, const zorvane_node_t* fields) {
    if (m_chunks.empty() || m_chunk_used == kChunkSize) {
        m_chunks.push_back(std::make_unique<working_node_t[]>(kChunkSize));
        m_chunk_used = 0;
    }
    working_node_t* node = &m_chunks.back()[m_chunk_used++];
    node->fields = fields;
    node->index = fields->index;
    node->parent = parent;
    if (parent != nullptr) {
        node->order = parent->next_order++;
        parent->kids.push_back(node);
    }
    return node;
}

void working_tree::load(working_node_t* into, const zorvane_node_t& from, bool movable) {
    into->kids.reserve(from.children.size());
    for (const zorvane_node_t& child : from.children) {
        working_node_t* node = make_node(into, &child);
        node->movable = movable;
        if (!child.children.empty()) load(node, child, movable);
    }
}

working_node_t* working_tree::append_copy(working_node_t* parent, const zorvane_node_t& from,
                                          bool deep) {
    working_node_t* node = make_node(parent, &from);
    index_node(node);
    if (deep && !from.children.empty()) {
        node->kids.reserve(from.children.size());
        for (const zorvane_node_t& child : from.children) append_copy(node, child, true);
    }
    return node;
}

working_tree::slot_t* working_tree::lookup(std::string_view guid, std::size_t hash) const {
    const std::size_t mask = m_slots.size() - 1;
    for (std::size_t s = hash & mask;; s = (s + 1) & mask) {
        const slot_t& slot = m_slots[s];
        if (!slot.used || (slot.hash == hash && slot.key == guid))
            return const_cast<slot_t*>(&slot);
    }
}

void working_tree::grow_index() {
    std::vector<slot_t> old = std::move(m_slots);
    m_slots.assign(old.size() * 2, slot_t{});
    for (const slot_t& s : old) {
        if (s.used) *lookup(s.key, s.hash) = s;
    }
}

void working_tree::index_node(working_node_t* node) {
    if ((m_slots_used + 1) * 2 > m_slots.size()) grow_index();
    std::string_view key = node->guid();
    std::size_t hash = hash_of(key);
    slot_t* slot = lookup(key, hash);
    if (!slot->used) {
        *slot = slot_t{hash, key, node, true};
        ++m_slots_used;
        return;
    }
    if (slot->head != nullptr) {
        m_source_repeats = true;
        node->next_same = slot->head;
        slot->head->prev_same = node;
    }
    slot->head = node;
}

void working_tree::unindex_node(working_node_t* node) {
    if (node->prev_same != nullptr) {
        node->prev_same->next_same = node->next_same;
    } else {
        std::string_view key = node->guid();
        lookup(key, hash_of(key))->head = node->next_same;
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
    working_node_t* best = lookup(guid, hash_of(guid))->head;
    if (best == nullptr) return nullptr;
    for (working_node_t* n = best->next_same; n != nullptr; n = n->next_same) {
        if (precedes(n, best)) best = n;
    }
    return best;
}

working_node_t* working_tree::find_child(const working_node_t* parent,
                                         std::string_view guid) const {
    working_node_t* best = nullptr;
    for (working_node_t* n = lookup(guid, hash_of(guid))->head; n != nullptr; n = n->next_same) {
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
        // The record's fields replace the node's own; its identifier is the
        // same, and `index` and children stay.
        existing->fields = &node;
        existing->movable = false;
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
    for (std::size_t i = 0; i < kids.size(); ++i) kids[i]->order = static_cast<std::uint32_t>(i);
    parent->next_order = static_cast<std::uint32_t>(kids.size());
}

void working_tree::compact(working_node_t* node) {
    auto& kids = node->kids;
    kids.erase(
        std::remove_if(kids.begin(), kids.end(), [](const working_node_t* k) { return !k->live; }),
        kids.end());
}

void working_tree::reorder(working_node_t* node, std::vector<working_node_t*> kids) {
    node->kids = std::move(kids);
    for (std::size_t i = 0; i < node->kids.size(); ++i) {
        node->kids[i]->order = static_cast<std::uint32_t>(i);
    }
    node->next_order = static_cast<std::uint32_t>(node->kids.size());
}

std::vector<std::string> working_tree::repeated_identifiers() const {
    std::vector<std::string> out;
    for (const slot_t& slot : m_slots) {
        if (slot.used && slot.head != nullptr && slot.head->next_same != nullptr)
            out.emplace_back(slot.key);
    }
    return out;
}

zorvane_node_t working_tree::release() {
    m_slots.clear();
    struct builder {
        static void build(working_node_t* from, zorvane_node_t& into) {
            const zorvane_node_t& f = *from->fields;
            if (from->movable) {
                auto& m = const_cast<zorvane_node_t&>(f);
                into.guid = std::move(m.guid);
                into.title = std::move(m.title);
                into.description = std::move(m.description);
                into.tag = std::move(m.tag);
                into.keyword = std::move(m.keyword);
                into.url = std::move(m.url);
                into.feed_url = std::move(m.feed_url);
            } else {
                into.guid = f.guid;
                into.title = f.title;
                into.description = f.description;
                into.tag = f.tag;
                into.keyword = f.keyword;
                into.url = f.url;
                into.feed_url = f.feed_url;
            }
            into.type = f.type;
            into.created = f.created;
            into.modified = f.modified;
            into.index = from->index;
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
