#include "mass_delete_guard.h"

#include <string>
#include <unordered_set>

namespace Zorvane_Cli {
namespace {

using Core_ZorvaneMerge::zorvane_node_t;

void collect_bookmarks(const zorvane_node_t& node, std::unordered_set<std::string>& out) {
    if (node.type == Core_ZorvaneMerge::NODE_BOOKMARK) out.insert(node.guid);
    for (const zorvane_node_t& child : node.children) collect_bookmarks(child, out);
}

}  // namespace

removal_count_t count_removals(const zorvane_node_t& last, const zorvane_node_t& browser) {
    std::unordered_set<std::string> before;
    std::unordered_set<std::string> after;
    collect_bookmarks(last, before);
    collect_bookmarks(browser, after);
    removal_count_t count;
    count.synchronised = before.size();
    for (const std::string& guid : before) {
        if (after.count(guid) == 0) ++count.removed;
    }
    return count;
}

bool is_mass_delete(const removal_count_t& count) {
    return count.removed > kMassDeleteLimit || 2 * count.removed > count.synchronised;
}

std::size_t node_count(const zorvane_node_t& tree) {
    if (tree.type == Core_ZorvaneMerge::NODE_NONE) return 0;
    std::size_t n = 1;
    for (const zorvane_node_t& child : tree.children) n += node_count(child);
    return n;
}

}  // namespace Zorvane_Cli
