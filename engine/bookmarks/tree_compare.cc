#include "bookmarks/tree_compare.h"

#include <utility>
#include <vector>

#include "bookmarks/url_forms.h"

namespace Core_ZorvaneMerge {

bool node_equal(const zorvane_node_t& a, const zorvane_node_t& b) {
    if (is_kernel_node(a)) return a.guid == b.guid;
    if (a.guid != b.guid || a.type != b.type || a.title != b.title ||
        a.description != b.description || a.keyword != b.keyword || a.feed_url != b.feed_url ||
        a.tag != b.tag) {
        return false;
    }
    // The key is a function of the stored text, so equal texts need no key.
    return a.url == b.url || comparison_key(a.url) == comparison_key(b.url);
}

bool trees_equal(const zorvane_node_t& a, const zorvane_node_t& b) {
    // Iterative, so that a deep tree cannot exhaust the stack.
    std::vector<std::pair<const zorvane_node_t*, const zorvane_node_t*>> pending;
    pending.emplace_back(&a, &b);
    while (!pending.empty()) {
        auto [x, y] = pending.back();
        pending.pop_back();
        if (x->index != y->index || !node_equal(*x, *y) ||
            x->children.size() != y->children.size()) {
            return false;
        }
        for (std::size_t i = x->children.size(); i-- > 0;) {
            pending.emplace_back(&x->children[i], &y->children[i]);
        }
    }
    return true;
}

}  // namespace Core_ZorvaneMerge
