// Test support (tests and benchmarks only): fixed-seed
// generators of bookmark trees and of edits to them.
//
// The same seed always gives the same trees, so every run of a test or
// benchmark works on the same data. Header-only; nothing in the engine uses it.
#pragma once

#include <algorithm>
#include <cstdint>
#include <random>
#include <string>
#include <tuple>
#include <vector>

#include "bookmarks/bookmark_node.h"

namespace Core_ZorvaneMerge {

class tree_generator {
public:
    struct options_t {
        std::size_t bookmarks = 100;    // ordinary nodes below the fixed folders
        std::size_t folder_every = 12;  // about one folder per this many nodes
        std::size_t max_depth = 5;
        double repeat_guid = 0.0;       // chance that a node reuses an earlier identifier
        std::size_t guid_alphabet = 0;  // when not 0: identifiers drawn from this many values
    };

    explicit tree_generator(std::uint64_t seed) : m_rng(seed) {}

    std::mt19937_64& rng() { return m_rng; }

    std::size_t below(std::size_t n) {
        return n == 0 ? 0 : std::uniform_int_distribution<std::size_t>(0, n - 1)(m_rng);
    }
    bool chance(double p) { return std::uniform_real_distribution<double>(0, 1)(m_rng) < p; }

    // A tree with "ROOT" at the top holding the toolbar, menu and unfiled
    // folders, and `options.bookmarks` nodes spread over nested folders.
    zorvane_node_t make_tree(const options_t& options) {
        m_options = options;
        zorvane_node_t root(NODE_FOLDER, std::string(kRootGuid));
        root.title = u"Bookmarks";
        for (std::string_view g : {kToolbarGuid, kMenuGuid, kUnfiledGuid}) {
            zorvane_node_t k(NODE_FOLDER, std::string(g));
            k.title = std::u16string(g.begin(), g.end());
            root.children.push_back(std::move(k));
        }
        // Nodes are made as a flat list with parent links, then assembled.
        struct proto_t {
            zorvane_node_t node;
            std::size_t parent;  // index into protos, or npos for the fixed folders
        };
        std::vector<proto_t> protos;
        std::vector<std::size_t> folder_ids{0, 1, 2};
        for (std::size_t i = 0; i < 3; ++i) protos.push_back({root.children[i], SIZE_MAX});
        std::vector<std::size_t> folder_depth{1, 1, 1};
        for (std::size_t n = 0; n < options.bookmarks; ++n) {
            std::size_t pick = below(folder_ids.size());
            // Prefer recent folders so that folders fill up and nest.
            if (chance(0.6) && folder_ids.size() > 3)
                pick =
                    folder_ids.size() - 1 - below(std::min<std::size_t>(4, folder_ids.size() - 3));
            std::size_t parent = folder_ids[pick];
            bool folder =
                below(options.folder_every) == 0 && folder_depth[pick] < options.max_depth;
            protos.push_back({folder ? make_folder() : make_leaf(), parent});
            if (folder) {
                folder_ids.push_back(protos.size() - 1);
                folder_depth.push_back(folder_depth[pick] + 1);
            }
        }
        // Assemble bottom-up: children lists per proto, in creation order.
        std::vector<std::vector<std::size_t>> child_ids(protos.size());
        for (std::size_t i = 3; i < protos.size(); ++i) child_ids[protos[i].parent].push_back(i);
        for (std::size_t i = protos.size(); i-- > 0;) {
            auto& node = protos[i].node;
            node.children.reserve(child_ids[i].size());
            for (std::size_t c : child_ids[i]) node.children.push_back(std::move(protos[c].node));
        }
        for (std::size_t i = 0; i < 3; ++i) root.children[i] = std::move(protos[i].node);
        renumber(root);
        return root;
    }

    // A new ordinary node: a bookmark, or now and then a separator, query or feed.
    zorvane_node_t make_leaf() {
        std::size_t kind = below(40);
        if (kind == 0) {
            zorvane_node_t s(NODE_SEPARATOR, new_guid());
            return s;
        }
        std::int32_t type = kind == 1 ? NODE_QUERY : kind == 2 ? NODE_FEED : NODE_BOOKMARK;
        zorvane_node_t b(type, new_guid());
        b.title = title();
        b.url = url();
        if (type == NODE_FEED) b.feed_url = url();
        if (type == NODE_QUERY) b.url = "place:folder=" + std::to_string(below(20));
        if (chance(0.2)) b.keyword = u"kw" + to_u16(std::to_string(below(100)));
        if (chance(0.1)) b.tag = u"tag" + to_u16(std::to_string(below(30)));
        if (chance(0.1)) b.description = u"Saved for later reading";
        b.created = 1300000000000000 + static_cast<std::int64_t>(below(1000000000));
        b.modified = b.created + static_cast<std::int64_t>(below(1000000));
        return b;
    }

    zorvane_node_t make_folder() {
        zorvane_node_t f(NODE_FOLDER, new_guid());
        f.title = u"Folder " + to_u16(std::to_string(below(1000)));
        f.created = 1300000000000000 + static_cast<std::int64_t>(below(1000000000));
        f.modified = f.created;
        return f;
    }

    std::string new_guid() {
        if (m_options.guid_alphabet != 0)
            return "g" + std::to_string(below(m_options.guid_alphabet));
        if (!m_used.empty() && m_options.repeat_guid > 0 && chance(m_options.repeat_guid)) {
            return m_used[below(m_used.size())];
        }
        static constexpr char kDigits[] =
            "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789-_";
        std::string g(12, ' ');
        for (char& c : g) c = kDigits[below(64)];
        m_used.push_back(g);
        return g;
    }

    std::u16string title() {
        static const char16_t* kWords[] = {u"News",   u"Recipes", u"Docs",    u"Travel", u"Music",
                                           u"Résumé", u"Banking", u"Weather", u"Maps",   u"Wiki"};
        return std::u16string(kWords[below(10)]) + u" " + to_u16(std::to_string(below(100000)));
    }

    std::string url() {
        static const char* kHosts[] = {"www.example.com", "news.example.org", "docs.example.net",
                                       "shop.example.co.uk", "blog.example.io"};
        return std::string("https://") + kHosts[below(5)] + "/section/" +
               std::to_string(below(1000)) + "/page-" + std::to_string(below(100000)) + ".html";
    }

    // Applies `count` random edits to `tree`: additions, deletions, renames,
    // moves to another folder, and reorderings of a folder's children.
    // Fixed folders are never deleted or moved.
    void edit(zorvane_node_t& tree, std::size_t count) {
        for (std::size_t n = 0; n < count; ++n) {
            std::vector<zorvane_node_t*> folders, nodes;
            collect(tree, folders, nodes);
            std::size_t what = below(6);
            zorvane_node_t* folder = folders[below(folders.size())];
            if (what == 0 || nodes.empty()) {
                insert_at(*folder, chance(0.2) ? make_folder() : make_leaf());
            } else if (what == 1) {
                remove_random(tree);
            } else if (what == 2) {
                zorvane_node_t* node = nodes[below(nodes.size())];
                node->title += u" (renamed)";
            } else if (what == 3) {
                move_random(tree);
            } else {
                permute_children(*folder);
            }
        }
    }

    // Shuffles the children of `folder`.
    void permute_children(zorvane_node_t& folder) {
        std::shuffle(folder.children.begin(), folder.children.end(), m_rng);
    }

    // Sets every `index` to the node's position among its siblings.
    static void renumber(zorvane_node_t& node) {
        for (std::size_t i = 0; i < node.children.size(); ++i) {
            node.children[i].index = static_cast<std::int32_t>(i);
            renumber(node.children[i]);
        }
    }

    static void collect(zorvane_node_t& node, std::vector<zorvane_node_t*>& folders,
                        std::vector<zorvane_node_t*>& nodes) {
        if (node.type == NODE_FOLDER) folders.push_back(&node);
        for (auto& c : node.children) {
            if (!is_kernel_node(c)) nodes.push_back(&c);
            collect(c, folders, nodes);
        }
    }

    // True when both trees hold exactly the same fields everywhere, times and
    // `index` included (unlike trees_equal, which is the engine's notion of
    // "unchanged").
    static bool identical(const zorvane_node_t& a, const zorvane_node_t& b) {
        if (a.guid != b.guid || a.type != b.type || a.title != b.title ||
            a.description != b.description || a.tag != b.tag || a.keyword != b.keyword ||
            a.url != b.url || a.feed_url != b.feed_url || a.created != b.created ||
            a.modified != b.modified || a.index != b.index ||
            a.children.size() != b.children.size()) {
            return false;
        }
        for (std::size_t i = 0; i < a.children.size(); ++i) {
            if (!identical(a.children[i], b.children[i])) return false;
        }
        return true;
    }

    // A compact picture of a tree's identifiers, for failure messages:
    // "ROOT(a b(c d))".
    static std::string outline(const zorvane_node_t& node) {
        std::string out = node.guid;
        if (!node.children.empty()) {
            out += "(";
            for (std::size_t i = 0; i < node.children.size(); ++i) {
                if (i != 0) out += " ";
                out += outline(node.children[i]);
            }
            out += ")";
        }
        return out;
    }

    static std::u16string to_u16(const std::string& ascii) {
        return std::u16string(ascii.begin(), ascii.end());
    }

private:
    void insert_at(zorvane_node_t& folder, zorvane_node_t node) {
        std::size_t at = below(folder.children.size() + 1);
        folder.children.insert(folder.children.begin() + static_cast<std::ptrdiff_t>(at),
                               std::move(node));
    }

    // Picks a random (parent, position) of an ordinary node.
    bool pick_ordinary(zorvane_node_t& tree, zorvane_node_t*& parent, std::size_t& position) {
        std::vector<std::pair<zorvane_node_t*, std::size_t>> all;
        std::vector<zorvane_node_t*> stack{&tree};
        while (!stack.empty()) {
            zorvane_node_t* n = stack.back();
            stack.pop_back();
            for (std::size_t i = 0; i < n->children.size(); ++i) {
                if (!is_kernel_node(n->children[i])) all.emplace_back(n, i);
                stack.push_back(&n->children[i]);
            }
        }
        if (all.empty()) return false;
        std::tie(parent, position) = all[below(all.size())];
        return true;
    }

    void remove_random(zorvane_node_t& tree) {
        zorvane_node_t* parent;
        std::size_t position;
        if (!pick_ordinary(tree, parent, position)) return;
        parent->children.erase(parent->children.begin() + static_cast<std::ptrdiff_t>(position));
    }

    void move_random(zorvane_node_t& tree) {
        zorvane_node_t* parent;
        std::size_t position;
        if (!pick_ordinary(tree, parent, position)) return;
        zorvane_node_t moved = std::move(parent->children[position]);
        parent->children.erase(parent->children.begin() + static_cast<std::ptrdiff_t>(position));
        std::vector<zorvane_node_t*> folders, nodes;
        collect(tree, folders, nodes);
        insert_at(*folders[below(folders.size())], std::move(moved));
    }

    std::mt19937_64 m_rng;
    options_t m_options;
    std::vector<std::string> m_used;
};

}  // namespace Core_ZorvaneMerge
