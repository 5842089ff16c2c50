#include "bookmarks/diff_walk.h"

#include "bookmarks/change_list.h"
#include "bookmarks/child_locator.h"
#include "bookmarks/tree_compare.h"

namespace Core_ZorvaneMerge {
namespace {

const std::string kNoParent;

class differ {
public:
    differ(std::vector<diff_entry>& out, bool old_has_repeats)
        : m_out(out), m_old_has_repeats(old_has_repeats) {}

    void run(const zorvane_node_t& new_tree, const zorvane_node_t& old_tree) {
        if (!node_equal(new_tree, old_tree)) m_out.push_back({change_put, &new_tree, &kNoParent});
        m_path.push_back(&new_tree);
        children(new_tree, &old_tree);
        m_path.pop_back();
    }

private:
    // Same identifiers at the same positions, in an old tree without
    // repeated identifiers: each child's match is the child at its position.
    bool same_identifiers(const zorvane_node_t& n, const zorvane_node_t* o) const {
        if (m_old_has_repeats || o == nullptr || n.children.size() != o->children.size())
            return false;
        for (std::size_t i = 0; i < n.children.size(); ++i) {
            if (n.children[i].guid != o->children[i].guid) return false;
        }
        return true;
    }

    void add_change(const zorvane_node_t& c, const zorvane_node_t& parent) {
        for (std::size_t i = 0; i < m_path.size(); ++i) {
            m_out.push_back({change_path, m_path[i], i == 0 ? &kNoParent : &m_path[i - 1]->guid});
        }
        m_out.push_back({change_put, &c, &parent.guid});
    }

    void children(const zorvane_node_t& n, const zorvane_node_t* o) {
        if (same_identifiers(n, o)) {
            for (std::size_t i = 0; i < n.children.size(); ++i) {
                const zorvane_node_t& c = n.children[i];
                const zorvane_node_t& match = o->children[i];
                if (!node_equal(match, c)) add_change(c, n);
                if (c.children.empty() && match.children.empty()) continue;
                m_path.push_back(&c);
                children(c, &match);
                m_path.pop_back();
            }
            return;
        }
        if (o != nullptr && !o->children.empty()) {
            child_locator in_new(&n.children);
            for (const zorvane_node_t& c : o->children) {
                if (in_new.find(c.guid) == child_locator::npos) {
                    m_out.push_back({change_delete, &c, &o->guid});
                }
            }
        }
        child_locator in_old(o != nullptr ? &o->children : nullptr);
        for (const zorvane_node_t& c : n.children) {
            const zorvane_node_t* match = in_old.find_node(c.guid);
            if (match == nullptr || !node_equal(*match, c)) add_change(c, n);
            m_path.push_back(&c);
            children(c, match);
            m_path.pop_back();
        }
    }

    std::vector<diff_entry>& m_out;
    std::vector<const zorvane_node_t*> m_path;
    bool m_old_has_repeats;
};

}  // namespace

void diff_entries(const zorvane_node_t& new_tree, const zorvane_node_t& old_tree,
                  std::vector<diff_entry>& out, bool old_has_repeats) {
    differ(out, old_has_repeats).run(new_tree, old_tree);
}

zorvane_node_t copy_fields(const zorvane_node_t& node) {
    zorvane_node_t out(node.type, node.guid);
    out.title = node.title;
    out.description = node.description;
    out.tag = node.tag;
    out.keyword = node.keyword;
    out.url = node.url;
    out.feed_url = node.feed_url;
    out.created = node.created;
    out.modified = node.modified;
    out.index = node.index;
    return out;
}

}  // namespace Core_ZorvaneMerge
