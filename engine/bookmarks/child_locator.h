// Internal to engine/bookmarks: finds children by identifier without a
// linear scan per lookup.
#pragma once

#include <cstdint>
#include <string_view>
#include <vector>

#include "bookmarks/bookmark_node.h"

namespace Core_ZorvaneMerge {

// Answers "position of the first child with this identifier" for one
// sequence of children, exactly as a scan from the front would. Small
// sequences are scanned; larger ones get an open-addressing table, built on
// the first lookup. The sequence must outlive the locator and stay unchanged
// while it is used.
class child_locator {
public:
    static constexpr std::size_t npos = static_cast<std::size_t>(-1);

    // `children` may be nullptr: every lookup then finds nothing.
    explicit child_locator(const std::vector<zorvane_node_t>* children) : m_children(children) {}

    std::size_t find(std::string_view guid) const;

    // The child itself, or nullptr.
    const zorvane_node_t* find_node(std::string_view guid) const {
        std::size_t i = find(guid);
        return i == npos ? nullptr : &(*m_children)[i];
    }

private:
    struct slot_t {
        std::uint32_t position_plus_one = 0;  // 0: empty slot
        std::uint32_t hash = 0;
    };

    void build() const;

    const std::vector<zorvane_node_t>* m_children;
    mutable std::vector<slot_t> m_slots;
    mutable bool m_built = false;
};

}  // namespace Core_ZorvaneMerge
