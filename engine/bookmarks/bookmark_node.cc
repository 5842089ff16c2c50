#include "bookmarks/bookmark_node.h"

#include <array>
#include <utility>

namespace Core_ZorvaneMerge {
namespace {

constexpr std::array<std::string_view, 7> kTypeNames = {"",     "folder",    "bookmark", "query",
                                                        "feed", "separator", "note"};

template <class Node>
Node* find_node_impl(Node& tree, std::string_view guid) {
    if (guid == kRootGuid) return &tree;
    // Pre-order without recursion: a stack of (node, next child position).
    std::vector<std::pair<Node*, std::size_t>> stack;
    stack.emplace_back(&tree, 0);
    while (!stack.empty()) {
        auto& [node, next] = stack.back();
        if (next == node->children.size()) {
            stack.pop_back();
            continue;
        }
        Node* child = &node->children[next++];
        if (child->guid == guid) return child;
        if (!child->children.empty()) stack.emplace_back(child, 0);
    }
    return nullptr;
}

template <class Node>
Node* find_child_impl(Node* node, std::string_view guid, std::size_t* position) {
    if (node == nullptr) return nullptr;
    for (std::size_t i = 0; i < node->children.size(); ++i) {
        if (node->children[i].guid == guid) {
            if (position != nullptr) *position = i;
            return &node->children[i];
        }
    }
    return nullptr;
}

}  // namespace

bool within_depth(const zorvane_node_t& tree, std::size_t max_depth) {
    // The nodes with children still to look at, with their depths.
    std::vector<std::pair<const zorvane_node_t*, std::size_t>> pending;
    if (!tree.children.empty()) pending.emplace_back(&tree, 0);
    while (!pending.empty()) {
        const auto [node, depth] = pending.back();
        pending.pop_back();
        if (depth + 1 > max_depth) return false;
        for (const zorvane_node_t& child : node->children) {
            if (!child.children.empty()) pending.emplace_back(&child, depth + 1);
        }
    }
    return true;
}

std::string type_name(std::int32_t type) {
    if (type < 0 || type >= static_cast<std::int32_t>(kTypeNames.size())) return {};
    return std::string(kTypeNames[static_cast<std::size_t>(type)]);
}

std::int32_t type_from_name(std::string_view name) {
    if (name.empty()) return NODE_NONE;
    for (std::size_t i = 1; i < kTypeNames.size(); ++i) {
        if (kTypeNames[i] == name) return static_cast<std::int32_t>(i);
    }
    return NODE_NONE;
}

bool is_kernel_node(const zorvane_node_t& node) {
    if (node.type != NODE_FOLDER) return false;
    const std::string& g = node.guid;
    return g == kRootGuid || g == kToolbarGuid || g == kMenuGuid || g == kUnfiledGuid ||
           g == kNotesGuid;
}

zorvane_node_t* find_node(zorvane_node_t& tree, std::string_view guid) {
    return find_node_impl(tree, guid);
}

const zorvane_node_t* find_node(const zorvane_node_t& tree, std::string_view guid) {
    return find_node_impl(tree, guid);
}

zorvane_node_t* find_child(zorvane_node_t* node, std::string_view guid, std::size_t* position) {
    return find_child_impl(node, guid, position);
}

const zorvane_node_t* find_child(const zorvane_node_t* node, std::string_view guid,
                                 std::size_t* position) {
    return find_child_impl(node, guid, position);
}

zorvane_node_t* find_child(zorvane_node_t& node, std::string_view guid) {
    return find_child_impl(&node, guid, nullptr);
}

const zorvane_node_t* find_child(const zorvane_node_t& node, std::string_view guid) {
    return find_child_impl(&node, guid, nullptr);
}

}  // namespace Core_ZorvaneMerge
