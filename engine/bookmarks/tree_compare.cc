#include "bookmarks/tree_compare.h"

#include <cstring>
#include <utility>
#include <vector>

#include "bookmarks/url_forms.h"

namespace Core_ZorvaneMerge {
namespace {

// Byte-wise equality; the library's comparison of 16-bit strings goes
// character by character, and this runs for every node of a tree.
template <class String>
bool same(const String& a, const String& b) {
    return a.size() == b.size() &&
           std::memcmp(a.data(), b.data(), a.size() * sizeof(typename String::value_type)) == 0;
}

}  // namespace

bool node_equal(const zorvane_node_t& a, const zorvane_node_t& b) {
    if (is_kernel_node(a)) return a.guid == b.guid;
    if (a.type != b.type || !same(a.guid, b.guid) || !same(a.title, b.title) ||
        !same(a.description, b.description) || !same(a.keyword, b.keyword) ||
        !same(a.feed_url, b.feed_url) || !same(a.tag, b.tag)) {
        return false;
    }
    // The key is a function of the stored text, so equal texts need no key.
    return same(a.url, b.url) || comparison_key(a.url) == comparison_key(b.url);
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
