#include "bookmarks/child_locator.h"

#include <functional>

namespace Core_ZorvaneMerge {
namespace {

constexpr std::size_t kScanLimit = 12;

std::uint32_t hash_of(std::string_view s) {
    std::size_t h = std::hash<std::string_view>{}(s);
    return static_cast<std::uint32_t>(h ^ (h >> 32));
}

}  // namespace

void child_locator::build() const {
    const auto& children = *m_children;
    std::size_t capacity = 16;
    while (capacity < children.size() * 2) capacity *= 2;
    m_slots.assign(capacity, slot_t{});
    const std::size_t mask = capacity - 1;
    for (std::size_t i = 0; i < children.size(); ++i) {
        std::string_view guid = children[i].guid;
        std::uint32_t h = hash_of(guid);
        std::size_t s = h & mask;
        // Keep the first occurrence: a later child with the same identifier
        // is not stored.
        while (true) {
            slot_t& slot = m_slots[s];
            if (slot.position_plus_one == 0) {
                slot.position_plus_one = static_cast<std::uint32_t>(i + 1);
                slot.hash = h;
                break;
            }
            if (slot.hash == h && children[slot.position_plus_one - 1].guid == guid) break;
            s = (s + 1) & mask;
        }
    }
    m_built = true;
}

std::size_t child_locator::find(std::string_view guid) const {
    if (m_children == nullptr) return npos;
    const auto& children = *m_children;
    if (children.size() <= kScanLimit) {
        for (std::size_t i = 0; i < children.size(); ++i) {
            if (children[i].guid == guid) return i;
        }
        return npos;
    }
    if (!m_built) build();
    std::uint32_t h = hash_of(guid);
    const std::size_t mask = m_slots.size() - 1;
    for (std::size_t s = h & mask;; s = (s + 1) & mask) {
        const slot_t& slot = m_slots[s];
        if (slot.position_plus_one == 0) return npos;
        if (slot.hash == h && children[slot.position_plus_one - 1].guid == guid) {
            return slot.position_plus_one - 1;
        }
    }
}

}  // namespace Core_ZorvaneMerge
