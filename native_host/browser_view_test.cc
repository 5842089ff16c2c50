#include "browser_view.h"

#include <gtest/gtest.h>

#include <functional>
#include <map>
#include <memory>
#include <random>
#include <stdexcept>

#include "bookmarks/tree_compare.h"
#include "bookmarks/tree_xml.h"
#include "bookmarks/url_forms.h"
#include "platform/strings.h"

namespace Zorvane_Native {
namespace {

using Core_ZorvaneMerge::zorvane_node_t;
namespace zm = Core_ZorvaneMerge;

// A browser's bookmark store as the extension sees it: ids, folders,
// bookmarks and (Firefox) separators, with the API's rules for create,
// update, move and remove.
struct fake_browser {
    struct node_t {
        std::string id;
        int kind = zm::NODE_FOLDER;
        std::u16string title;
        std::string url;
        std::string root;
        std::vector<std::unique_ptr<node_t>> children;
        node_t* parent = nullptr;
    };
    browser_enum browser;
    std::unique_ptr<node_t> root;
    std::map<std::string, node_t*> by_id;
    int next = 100;

    explicit fake_browser(browser_enum b) : browser(b) {
        const bool chromium = b == browser_enum::chromium;
        root = make(chromium ? "0" : "root________", zm::NODE_FOLDER, u"", "root");
        const std::vector<std::pair<std::string, std::string>> tops =
            chromium ? std::vector<std::pair<std::string, std::string>>{{"1", "toolbar"},
                                                                        {"2", "unfiled"}}
                     : std::vector<std::pair<std::string, std::string>>{{"menu________", "menu"},
                                                                        {"toolbar_____", "toolbar"},
                                                                        {"unfiled_____", "unfiled"},
                                                                        {"mobile______", "mobile"}};
        for (const auto& [id, slot] : tops) {
            auto n = make(id, zm::NODE_FOLDER, Core_Platform::utf8_to_wide(slot), slot);
            n->parent = root.get();
            root->children.push_back(std::move(n));
        }
    }
    std::unique_ptr<node_t> make(const std::string& id, int kind, std::u16string title,
                                 std::string root_name = "") {
        auto n = std::make_unique<node_t>();
        n->id = id;
        n->kind = kind;
        n->title = std::move(title);
        n->root = std::move(root_name);
        by_id[id] = n.get();
        return n;
    }
    node_t& at(const std::string& id) {
        auto it = by_id.find(id);
        if (it == by_id.end()) throw std::runtime_error("no node " + id);
        return *it->second;
    }
    static std::size_t position(node_t& n) {
        auto& list = n.parent->children;
        for (std::size_t i = 0; i < list.size(); ++i)
            if (list[i].get() == &n) return i;
        throw std::runtime_error("lost node");
    }
    void forget(node_t& n) {
        for (auto& c : n.children) forget(*c);
        by_id.erase(n.id);
    }

    // Applies one operation; `refs` resolves "@" keys. Throws what the
    // browser would refuse.
    void apply(const operation_t& op, std::map<std::string, std::string>& refs) {
        auto key = [&](const std::string& k) {
            if (k.empty() || k[0] != '@') return k;
            auto it = refs.find(k.substr(1));
            if (it == refs.end()) throw std::runtime_error("unknown ref " + k);
            return it->second;
        };
        switch (op.op) {
            case operation_t::CREATE: {
                node_t& parent = at(key(op.parent));
                if (parent.kind != zm::NODE_FOLDER) throw std::runtime_error("parent no folder");
                if (op.kind == zm::NODE_SEPARATOR && browser == browser_enum::chromium)
                    throw std::runtime_error("Chromium has no separators");
                if (op.index < 0 || static_cast<std::size_t>(op.index) > parent.children.size())
                    throw std::runtime_error("create index out of range");
                std::string id = browser == browser_enum::chromium
                                     ? std::to_string(next++)
                                     : "ff" + std::to_string(next++) + "xxxxxxxx";
                auto n =
                    make(id, op.kind == zm::NODE_QUERY ? zm::NODE_BOOKMARK : op.kind, op.title);
                n->url = op.url;
                n->parent = &parent;
                parent.children.insert(parent.children.begin() + op.index, std::move(n));
                refs[op.key] = id;
                break;
            }
            case operation_t::UPDATE: {
                node_t& n = at(key(op.key));
                if (n.parent == root.get()) throw std::runtime_error("renamed a root");
                n.title = op.title;
                if (!op.url.empty()) n.url = op.url;
                break;
            }
            case operation_t::MOVE: {
                node_t& n = at(key(op.key));
                node_t& to = at(key(op.parent));
                if (n.parent == root.get()) throw std::runtime_error("moved a root");
                for (node_t* p = &to; p != nullptr; p = p->parent)
                    if (p == &n) throw std::runtime_error("moved into itself");
                const std::size_t from = position(n);
                // Both browsers agree on a move to an earlier place or into
                // another folder; the plans never ask for anything else.
                if (n.parent == &to && static_cast<std::size_t>(op.index) > from)
                    throw std::runtime_error("a move to a later place in the same folder");
                auto owned = std::move(n.parent->children[from]);
                n.parent->children.erase(n.parent->children.begin() + from);
                if (static_cast<std::size_t>(op.index) > to.children.size())
                    throw std::runtime_error("move index out of range");
                owned->parent = &to;
                to.children.insert(to.children.begin() + op.index, std::move(owned));
                break;
            }
            case operation_t::REMOVE: {
                node_t& n = at(op.key);
                if (n.parent == root.get()) throw std::runtime_error("removed a root");
                if (!op.tree && !n.children.empty())
                    throw std::runtime_error("remove of a folder with content");
                node_t* parent = n.parent;
                const std::size_t from = position(n);
                forget(n);
                parent->children.erase(parent->children.begin() + from);
                break;
            }
        }
    }

    std::vector<browser_record_t> records() const {
        std::vector<browser_record_t> out;
        std::function<void(const node_t&, const std::string&)> walk = [&](const node_t& n,
                                                                          const std::string& p) {
            browser_record_t r;
            r.id = n.id;
            r.parent_id = p;
            r.kind = n.kind == zm::NODE_BOOKMARK && n.url.rfind("place:", 0) == 0 &&
                             browser == browser_enum::firefox
                         ? zm::NODE_QUERY
                         : n.kind;
            r.title = n.title;
            r.url = n.url;
            r.root = n.root;
            out.push_back(r);
            for (const auto& c : n.children) walk(*c, n.id);
        };
        walk(*root, "");
        return out;
    }
};

// A random tree with the kernel folders, folders, bookmarks, separators,
// queries and notes, every address different.
struct tree_maker {
    std::mt19937 rng;
    int serial = 0;
    explicit tree_maker(unsigned seed) : rng(seed) {}

    int pick(int n) { return std::uniform_int_distribution<int>(0, n - 1)(rng); }
    std::string guid() { return "g" + std::to_string(serial++); }

    zorvane_node_t leaf() {
        const int r = pick(20);
        zorvane_node_t n(zm::NODE_BOOKMARK, guid());
        n.title = u"item " + Core_Platform::utf8_to_wide(n.guid);
        n.url = "https://h" + std::to_string(serial) + ".example/p";
        if (r == 0) {
            n.type = zm::NODE_SEPARATOR;
            n.title.clear();
            n.url.clear();
        } else if (r == 1) {
            n.type = zm::NODE_QUERY;
            n.url = "place:sort=8&maxResults=" + std::to_string(serial);
        } else if (r == 2) {
            n.type = zm::NODE_NOTE;
            n.url.clear();
            n.description = u"a note";
        } else if (r == 3) {
            n.type = zm::NODE_SEPARATOR;
            n.title.clear();
            n.url.clear();
        }
        return n;
    }
    void fill(zorvane_node_t& folder, int depth) {
        const int count = pick(5);
        for (int i = 0; i < count; ++i) {
            if (depth < 3 && pick(4) == 0) {
                zorvane_node_t f(zm::NODE_FOLDER, guid());
                f.title = u"folder " + Core_Platform::utf8_to_wide(f.guid);
                fill(f, depth + 1);
                folder.children.push_back(std::move(f));
            } else {
                folder.children.push_back(leaf());
            }
        }
    }
    zorvane_node_t tree() {
        zorvane_node_t root(zm::NODE_FOLDER, "ROOT");
        root.title = u"root";
        for (const char* g : {"BOOKMARK_MENU", "BOOKMARK_TOOLBAR", "BOOKMARK_UNFILED"}) {
            zorvane_node_t k(zm::NODE_FOLDER, g);
            k.title = u"kernel";
            fill(k, 1);
            root.children.push_back(std::move(k));
        }
        if (pick(2) == 0) {
            zorvane_node_t m(zm::NODE_FOLDER, kMobileGuid);
            m.title = u"Mobile Bookmarks";
            fill(m, 1);
            root.children.push_back(std::move(m));
        }
        return as_read(root);
    }
    static zorvane_node_t as_read(const zorvane_node_t& t) {
        std::string doc;
        zm::write_tree(t, doc);
        zorvane_node_t out;
        zm::read_tree(doc, out);
        return out;
    }
    // Every node below the kernel folders, with its parent.
    void collect(zorvane_node_t& n, std::vector<std::pair<zorvane_node_t*, zorvane_node_t*>>& out,
                 bool top) {
        for (auto& c : n.children) {
            if (!top) out.emplace_back(&c, &n);
            collect(c, out, false);
        }
    }
    // Another computer's changes: adds, removals, renames and moves.
    zorvane_node_t edit(zorvane_node_t t) {
        const int steps = 1 + pick(8);
        for (int s = 0; s < steps; ++s) {
            std::vector<std::pair<zorvane_node_t*, zorvane_node_t*>> nodes;
            collect(t, nodes, true);
            std::vector<zorvane_node_t*> folders;
            for (auto& k : t.children) folders.push_back(&k);
            for (auto& [n, p] : nodes)
                if (n->type == zm::NODE_FOLDER) folders.push_back(n);
            const int what = pick(4);
            if (what == 0 || nodes.empty()) {
                zorvane_node_t* f = folders[pick(static_cast<int>(folders.size()))];
                zorvane_node_t n = pick(3) == 0 ? zorvane_node_t(zm::NODE_FOLDER, guid()) : leaf();
                if (n.type == zm::NODE_FOLDER) n.title = u"new folder";
                const int at = pick(static_cast<int>(f->children.size()) + 1);
                f->children.insert(f->children.begin() + at, std::move(n));
                continue;
            }
            auto [n, p] = nodes[pick(static_cast<int>(nodes.size()))];
            if (what == 1) {
                for (std::size_t i = 0; i < p->children.size(); ++i)
                    if (&p->children[i] == n) {
                        p->children.erase(p->children.begin() + i);
                        break;
                    }
            } else if (what == 2) {
                if (n->type != zm::NODE_SEPARATOR) n->title += u" renamed";
            } else {
                zorvane_node_t* to = folders[pick(static_cast<int>(folders.size()))];
                std::function<bool(const zorvane_node_t&)> inside = [&](const zorvane_node_t& x) {
                    if (&x == to) return true;
                    for (const auto& c : x.children)
                        if (inside(c)) return true;
                    return false;
                };
                if (inside(*n)) continue;
                zorvane_node_t moved = *n;
                const std::string to_guid = to->guid;
                for (std::size_t i = 0; i < p->children.size(); ++i)
                    if (&p->children[i] == n) {
                        p->children.erase(p->children.begin() + i);
                        break;
                    }
                // The erase moved the siblings: find the folder again.
                to = zm::find_node(t, to_guid);
                const int at = pick(static_cast<int>(to->children.size()) + 1);
                to->children.insert(to->children.begin() + at, std::move(moved));
            }
        }
        return as_read(t);
    }
};

// Brings `browser` to `synced` the way a sync does, and checks that the
// browser then reads as exactly `synced`. Returns the table afterwards.
id_table_t sync_browser(fake_browser& browser, const zorvane_node_t& synced,
                        const zorvane_node_t& stored_before, id_table_t table) {
    view_node_t current;
    layout_t layout;
    std::string error;
    EXPECT_TRUE(read_records(browser.records(), browser.browser, current, layout, error)) << error;
    assign_guids(current, layout, table, stored_before);
    const view_node_t target = to_view(synced, layout, &current);
    table = table_of(current);
    std::map<std::string, std::string> refs;
    for (const operation_t& op : plan_operations(current, target)) browser.apply(op, refs);
    for (const auto& [guid, id] : refs) table[id] = guid;

    view_node_t after;
    EXPECT_TRUE(read_records(browser.records(), browser.browser, after, layout, error)) << error;
    assign_guids(after, layout, table, synced);
    const zorvane_node_t built = to_engine(after, layout, synced);
    if (!zm::trees_equal(built, synced)) {
        std::string a, b;
        zm::write_tree(built, a);
        zm::write_tree(synced, b);
        ADD_FAILURE() << "the browser reads as\n" << a << "\nnot as\n" << b;
    }
    // Nothing more to do once the browser shows the synchronised tree.
    EXPECT_TRUE(plan_operations(after, to_view(synced, layout, &after)).empty());
    return table_of(after);
}

// The property behind every sync: whatever the synchronised tree becomes,
// the operations bring the browser to it, and the browser's tree then reads
// as that tree exactly, with what the browser cannot hold (Chromium's
// separators, its missing menu, queries and notes) kept where it stood.
TEST(BrowserView, OperationsBringEitherBrowserToTheSynchronisedTree) {
    const unsigned seed = 20261209;
    for (browser_enum b : {browser_enum::chromium, browser_enum::firefox}) {
        tree_maker make(seed);
        for (int round = 0; round < 200; ++round) {
            SCOPED_TRACE("seed " + std::to_string(seed) + " round " + std::to_string(round) +
                         (b == browser_enum::chromium ? " chromium" : " firefox"));
            fake_browser browser(b);
            const zorvane_node_t first = make.tree();
            id_table_t table = sync_browser(browser, first, zorvane_node_t(), {});
            zorvane_node_t stored = first;
            for (int step = 0; step < 3; ++step) {
                const zorvane_node_t next = make.edit(stored);
                table = sync_browser(browser, next, stored, table);
                stored = next;
            }
            if (HasFailure()) return;
        }
    }
}

// A profile that lost its table (the extension was reinstalled), or another
// browser's first sync, finds the synchronised nodes by content: the tree it
// builds is the stored one, with no identifier made up.
TEST(BrowserView, ContentMatchingFindsEveryNodeWithoutTheTable) {
    const unsigned seed = 77;
    tree_maker make(seed);
    for (browser_enum b : {browser_enum::chromium, browser_enum::firefox}) {
        for (int round = 0; round < 40; ++round) {
            SCOPED_TRACE("seed " + std::to_string(seed) + " round " + std::to_string(round));
            fake_browser browser(b);
            const zorvane_node_t stored = make.tree();
            sync_browser(browser, stored, zorvane_node_t(), {});
            view_node_t view;
            layout_t layout;
            std::string error;
            ASSERT_TRUE(read_records(browser.records(), b, view, layout, error));
            assign_guids(view, layout, {}, stored);
            EXPECT_TRUE(zm::trees_equal(to_engine(view, layout, stored), stored));
        }
    }
}

TEST(BrowserView, RecordsThatAreNoTreeAreRefused) {
    view_node_t view;
    layout_t layout;
    std::string error;
    auto rec = [](std::string id, std::string parent, int kind, std::string root = "") {
        browser_record_t r;
        r.id = std::move(id);
        r.parent_id = std::move(parent);
        r.kind = kind;
        r.root = std::move(root);
        return r;
    };
    const int F = zm::NODE_FOLDER;
    const std::vector<browser_record_t> good = {
        rec("0", "", F, "root"), rec("1", "0", F, "toolbar"), rec("2", "0", F, "unfiled")};
    EXPECT_TRUE(read_records(good, browser_enum::chromium, view, layout, error)) << error;
    std::vector<browser_record_t> bad = good;
    bad.push_back(rec("9", "8", zm::NODE_BOOKMARK));
    EXPECT_FALSE(read_records(bad, browser_enum::chromium, view, layout, error));
    EXPECT_NE(error.find("before its parent"), std::string::npos);
    bad = good;
    bad.push_back(rec("1", "0", F));
    EXPECT_FALSE(read_records(bad, browser_enum::chromium, view, layout, error));
    bad = good;
    bad.push_back(rec("5", "", F));
    EXPECT_FALSE(read_records(bad, browser_enum::chromium, view, layout, error));
    bad = {rec("0", "", F, "root"), rec("1", "0", F, "toolbar")};
    EXPECT_FALSE(read_records(bad, browser_enum::chromium, view, layout, error));
    bad = good;
    bad.push_back(rec("7", "1", zm::NODE_BOOKMARK));
    bad.push_back(rec("8", "7", zm::NODE_BOOKMARK));
    EXPECT_FALSE(read_records(bad, browser_enum::chromium, view, layout, error));
}

}  // namespace
}  // namespace Zorvane_Native
