// Internal to engine/bookmarks: the rule that orders the children of a
// folder after a merge, written once over any sequence of children.
#pragma once

#include <algorithm>
#include <cstddef>
#include <string_view>
#include <vector>

namespace Core_ZorvaneMerge {

inline constexpr std::size_t kNotOnSide = static_cast<std::size_t>(-1);

// Rearranges `kids` so that the children the deciding side has (those whose
// `rank` is not kNotOnSide; the rank is the position of the matching child
// on the side) follow the side's order. `rank` is called once per child, in
// order. Every other child keeps its place relative to its
// neighbours: the ones before the first ranked child stay at the front, the
// ones after the last ranked child stay at the end, and each run in between
// travels right behind the ranked child it followed.
template <class Kid, class RankFn>
void arrange_by_side(std::vector<Kid>& kids, RankFn rank) {
    struct group_t {
        std::size_t rank;
        std::size_t first;  // the ranked child
        std::size_t end;    // one past its run of unranked followers
    };
    std::vector<std::size_t> ranks(kids.size());
    std::size_t last_ranked = kNotOnSide;
    for (std::size_t i = 0; i < kids.size(); ++i) {
        ranks[i] = rank(kids[i]);
        if (ranks[i] != kNotOnSide) last_ranked = i;
    }
    if (last_ranked == kNotOnSide) return;

    std::vector<group_t> groups;
    std::size_t lead_end = kids.size();
    for (std::size_t i = 0; i <= last_ranked; ++i) {
        if (ranks[i] == kNotOnSide) continue;
        if (groups.empty()) lead_end = i;
        if (!groups.empty()) groups.back().end = i;
        groups.push_back({ranks[i], i, i + 1});
    }
    // The run after the last ranked child stays at the end.
    groups.back().end = last_ranked + 1;
    // Fast exit when the side's order is already the order here.
    bool sorted =
        std::is_sorted(groups.begin(), groups.end(),
                       [](const group_t& a, const group_t& b) { return a.rank < b.rank; });
    if (sorted) return;
    std::stable_sort(groups.begin(), groups.end(),
                     [](const group_t& a, const group_t& b) { return a.rank < b.rank; });

    std::vector<Kid> out;
    out.reserve(kids.size());
    for (std::size_t i = 0; i < lead_end; ++i) out.push_back(std::move(kids[i]));
    for (const group_t& g : groups) {
        for (std::size_t i = g.first; i < g.end; ++i) out.push_back(std::move(kids[i]));
    }
    for (std::size_t i = last_ranked + 1; i < kids.size(); ++i) out.push_back(std::move(kids[i]));
    kids = std::move(out);
}

// True when the children a side shares with the base (by identifier) stand
// in another relative order on the side than in the base. `side` and `base`
// are sequences of identifiers; `on_side` and `in_base` tell whether an
// identifier occurs in the other sequence.
template <class InSide, class InBase>
bool shared_order_differs(const std::vector<std::string_view>& side,
                          const std::vector<std::string_view>& base, InSide on_side,
                          InBase in_base) {
    std::size_t i = 0, j = 0;
    while (true) {
        while (i < side.size() && !in_base(side[i])) ++i;
        while (j < base.size() && !on_side(base[j])) ++j;
        if (i == side.size() || j == base.size()) return (i == side.size()) != (j == base.size());
        if (side[i] != base[j]) return true;
        ++i, ++j;
    }
}

}  // namespace Core_ZorvaneMerge
