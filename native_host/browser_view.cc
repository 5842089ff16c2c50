#include "browser_view.h"

#include <algorithm>
#include <deque>
#include <functional>
#include <set>
#include <unordered_map>
#include <unordered_set>

#include "bookmarks/url_forms.h"
#include "platform/random.h"
#include "platform/strings.h"

namespace Zorvane_Native {
namespace {

using Core_ZorvaneMerge::zorvane_node_t;
namespace zm = Core_ZorvaneMerge;

const std::string kRoot(zm::kRootGuid);
const std::string kMenu(zm::kMenuGuid);
const std::string kToolbar(zm::kToolbarGuid);
const std::string kUnfiled(zm::kUnfiledGuid);
const std::string kMobile(kMobileGuid);

// The engine identifier of a browser slot.
std::string slot_guid(const std::string& slot) {
    if (slot == "toolbar") return kToolbar;
    if (slot == "menu") return kMenu;
    if (slot == "unfiled") return kUnfiled;
    if (slot == "mobile") return kMobile;
    return std::string();
}

// The title the engine keeps: folders and bookmarks need one.
std::u16string engine_title(int kind, const std::u16string& title, const std::string& url) {
    if (kind == zm::NODE_SEPARATOR || !title.empty()) return title;
    if (kind == zm::NODE_FOLDER) return u"(untitled)";
    return Core_Platform::utf8_to_wide(url);
}

bool has_address(int kind) { return kind == zm::NODE_BOOKMARK || kind == zm::NODE_QUERY; }

bool holdable(const zorvane_node_t& node, const layout_t& layout) {
    const browser_enum browser = layout.browser;
    // What the browser refused to create stays on the account as it is,
    // until its address changes there.
    if (!layout.refused.empty()) {
        auto it = layout.refused.find(node.guid);
        if (it != layout.refused.end() && it->second == refusal_key(node)) return false;
    }
    if (node.type == zm::NODE_FOLDER) return true;
    if (node.type == zm::NODE_BOOKMARK) return !node.url.empty();
    if (node.type == zm::NODE_SEPARATOR) return browser == browser_enum::firefox;
    // Firefox keeps a query as a bookmark of a "place:" address.
    if (node.type == zm::NODE_QUERY) return browser == browser_enum::firefox && !node.url.empty();
    return false;
}

std::string new_guid() {
    static const char kAlphabet[] =
        "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789-_";
    unsigned char bytes[12];
    Core_Platform::system_random(bytes, sizeof bytes);
    std::string out;
    for (unsigned char b : bytes) out += kAlphabet[b & 63];
    return out;
}

bool is_stand_in_guid(const std::string& guid) { return guid == kMenu || guid == kMobile; }

// Every node of `tree` by identifier (the first in pre-order wins).
void index_tree(const zorvane_node_t& tree,
                std::unordered_map<std::string, const zorvane_node_t*>& out) {
    for (const zorvane_node_t& child : tree.children) {
        out.emplace(child.guid, &child);
        index_tree(child, out);
    }
}

std::string content_key(int kind, const std::string& parent_guid, const std::u16string& title,
                        const std::string& url, int separator_ordinal) {
    if (kind == zm::NODE_SEPARATOR)
        return "s\x1f" + parent_guid + "\x1f" + std::to_string(separator_ordinal);
    if (kind == zm::NODE_FOLDER)
        return "f\x1f" + parent_guid + "\x1f" + Core_Platform::wide_to_utf8(title);
    return "b\x1f" + zm::comparison_key(url);
}

// Content keys of the stored tree -> identifiers, in pre-order.
void content_index(const zorvane_node_t& folder,
                   std::unordered_map<std::string, std::deque<std::string>>& out) {
    int separators = 0;
    for (const zorvane_node_t& child : folder.children) {
        const int kind = child.type == zm::NODE_QUERY || child.type == zm::NODE_FEED
                             ? zm::NODE_BOOKMARK
                             : child.type;
        out[content_key(kind, folder.guid, child.title, child.url, separators)].push_back(
            child.guid);
        if (child.type == zm::NODE_SEPARATOR) ++separators;
        content_index(child, out);
    }
}

}  // namespace

std::string refusal_key(const zorvane_node_t& node) {
    return node.type == zm::NODE_FOLDER ? std::string("folder")
                                        : "address " + zm::comparison_key(node.url);
}

bool read_records(const std::vector<browser_record_t>& records, browser_enum browser,
                  view_node_t& tree, layout_t& layout, std::string& error) {
    layout = layout_t();
    layout.browser = browser;
    tree = view_node_t();
    std::unordered_map<std::string, view_node_t*> by_id;
    // Pointers into children vectors move when a vector grows: keep paths.
    std::unordered_map<std::string, std::vector<std::size_t>> path_of;
    auto resolve = [&](const std::vector<std::size_t>& path) {
        view_node_t* n = &tree;
        for (std::size_t i : path) n = &n->children[i];
        return n;
    };
    bool have_root = false;
    for (const browser_record_t& r : records) {
        if (r.id.empty()) {
            error = "a node without id";
            return false;
        }
        if (path_of.count(r.id) != 0) {
            error = "node " + r.id + " appears twice";
            return false;
        }
        if (r.parent_id.empty()) {
            if (have_root) {
                error = "two roots";
                return false;
            }
            have_root = true;
            tree.id = r.id;
            tree.guid = kRoot;
            tree.fixed = true;
            tree.kind = zm::NODE_FOLDER;
            layout.root_id = r.id;
            path_of[r.id] = {};
            continue;
        }
        auto parent = path_of.find(r.parent_id);
        if (parent == path_of.end()) {
            error = "node " + r.id + " comes before its parent " + r.parent_id;
            return false;
        }
        view_node_t* p = resolve(parent->second);
        if (p->kind != zm::NODE_FOLDER) {
            error = "node " + r.id + " has a parent that is no folder";
            return false;
        }
        if (r.kind != zm::NODE_FOLDER && r.kind != zm::NODE_BOOKMARK &&
            r.kind != zm::NODE_SEPARATOR && r.kind != zm::NODE_QUERY) {
            error = "node " + r.id + " has an unknown kind";
            return false;
        }
        view_node_t n;
        n.id = r.id;
        n.kind = r.kind;
        n.url = has_address(r.kind) ? zm::to_stored_form(Core_Platform::utf8_to_wide(r.url))
                                    : std::string();
        n.title = engine_title(r.kind, r.title, n.url);
        n.created = r.date_added_ms * 1000;
        if (p == &tree) {
            n.fixed = true;
            if (!r.root.empty() && r.root != "root") {
                if (layout.slots.count(r.root) != 0) {
                    error = "two " + r.root + " folders";
                    return false;
                }
                layout.slots[r.root] = r.id;
            }
        }
        std::vector<std::size_t> path = parent->second;
        path.push_back(p->children.size());
        p->children.push_back(std::move(n));
        path_of[r.id] = std::move(path);
    }
    if (!have_root) {
        error = "no root";
        return false;
    }
    if (layout.slots.count("toolbar") == 0 || layout.slots.count("unfiled") == 0) {
        error = "no toolbar or other-bookmarks folder";
        return false;
    }
    return true;
}

void assign_guids(view_node_t& tree, layout_t& layout, const id_table_t& table,
                  const zorvane_node_t& stored) {
    const bool chromium = layout.browser == browser_enum::chromium;
    std::unordered_set<std::string> used = {kRoot};
    view_node_t* unfiled = nullptr;
    // The fixed folders.
    for (view_node_t& top : tree.children) {
        top.guid.clear();
        for (const auto& [slot, id] : layout.slots) {
            if (id != top.id) continue;
            if (slot == "mobile" && chromium) {
                layout.mobile_root_used = !top.children.empty();
                if (!layout.mobile_root_used) break;
            }
            top.guid = slot_guid(slot);
        }
        if (!top.guid.empty()) used.insert(top.guid);
        if (top.guid == kUnfiled) unfiled = &top;
    }
    auto stand_in_allowed = [&](const view_node_t& node, const view_node_t& parent,
                                const std::string& guid) {
        if (!chromium || &parent != unfiled || node.kind != zm::NODE_FOLDER) return false;
        return guid == kMenu || (guid == kMobile && !layout.mobile_root_used);
    };
    // What the table knows.
    std::function<void(view_node_t&)> from_table = [&](view_node_t& folder) {
        for (view_node_t& c : folder.children) {
            if (!c.fixed) {
                auto it = table.find(c.id);
                if (it != table.end() && !it->second.empty() && used.count(it->second) == 0 &&
                    it->second != kRoot && it->second != kToolbar && it->second != kUnfiled &&
                    (!is_stand_in_guid(it->second) || stand_in_allowed(c, folder, it->second))) {
                    c.guid = it->second;
                    used.insert(c.guid);
                }
            }
            if (!c.fixed || !c.guid.empty()) from_table(c);
        }
    };
    from_table(tree);
    // Chromium's stand-ins by their titles.
    if (unfiled != nullptr && chromium) {
        for (view_node_t& c : unfiled->children) {
            if (!c.guid.empty() || c.kind != zm::NODE_FOLDER) continue;
            if (c.title == kMenuStandInTitle && used.count(kMenu) == 0) {
                c.guid = kMenu;
            } else if (c.title == kMobileStandInTitle && !layout.mobile_root_used &&
                       used.count(kMobile) == 0) {
                c.guid = kMobile;
            } else {
                continue;
            }
            used.insert(c.guid);
        }
    }
    layout.stand_ins.clear();
    if (unfiled != nullptr && chromium) {
        for (const view_node_t& c : unfiled->children)
            if (is_stand_in_guid(c.guid)) layout.stand_ins.push_back(c.guid);
    }
    // By content, then new. The index of the stored tree's content is only
    // built when the table left a node without an identifier.
    std::unordered_map<std::string, std::deque<std::string>> by_content;
    bool indexed = false;
    std::function<void(view_node_t&)> by_match = [&](view_node_t& folder) {
        int separators = 0;
        for (view_node_t& c : folder.children) {
            if (c.guid.empty() && !c.fixed) {
                if (!indexed) {
                    content_index(stored, by_content);
                    indexed = true;
                }
                auto it =
                    by_content.find(content_key(c.kind, folder.guid, c.title, c.url, separators));
                if (it != by_content.end()) {
                    while (!it->second.empty() && used.count(it->second.front()) != 0)
                        it->second.pop_front();
                    if (!it->second.empty()) {
                        c.guid = it->second.front();
                        it->second.pop_front();
                    }
                }
                if (c.guid.empty() || is_stand_in_guid(c.guid) || c.guid == kRoot ||
                    c.guid == kToolbar || c.guid == kUnfiled) {
                    do c.guid = new_guid();
                    while (used.count(c.guid) != 0);
                }
                used.insert(c.guid);
            }
            if (c.kind == zm::NODE_SEPARATOR) ++separators;
            if (!c.fixed || !c.guid.empty()) by_match(c);
        }
    };
    by_match(tree);
}

namespace {

// The node's own fields: copying a folder whole would copy its subtree only
// to drop it.
zorvane_node_t without_children(const zorvane_node_t& s) {
    zorvane_node_t out;
    out.guid = s.guid;
    out.type = s.type;
    out.title = s.title;
    out.description = s.description;
    out.tag = s.tag;
    out.keyword = s.keyword;
    out.url = s.url;
    out.feed_url = s.feed_url;
    out.created = s.created;
    out.modified = s.modified;
    out.index = s.index;
    return out;
}

struct engine_builder {
    const layout_t& layout;
    std::unordered_map<std::string, const zorvane_node_t*> stored_by_guid;
    std::unordered_set<std::string> used;  // identifiers the browser's nodes have

    void collect(const view_node_t& v) {
        if (!v.guid.empty()) used.insert(v.guid);
        for (const view_node_t& c : v.children)
            if (!c.fixed || !c.guid.empty()) collect(c);
    }

    // A copy of a node the browser does not hold, without the nodes the
    // browser holds elsewhere.
    zorvane_node_t ghost(const zorvane_node_t& s) const {
        zorvane_node_t out = without_children(s);
        for (const zorvane_node_t& c : s.children)
            if (used.count(c.guid) == 0) out.children.push_back(ghost(c));
        return out;
    }

    // With `without_stand_ins`, `v`'s stand-in folders are left out (they
    // are folders of their own at the top).
    zorvane_node_t build(const view_node_t& v, bool without_stand_ins = false) const {
        auto it = stored_by_guid.find(v.guid);
        const zorvane_node_t* s = it == stored_by_guid.end() ? nullptr : it->second;
        zorvane_node_t out;
        if (s != nullptr) {
            out = without_children(*s);
        } else {
            out.guid = v.guid;
            out.created = v.created;
        }
        out.type = v.kind;
        const bool kept_title = v.guid == kMenu || v.guid == kMobile;
        if (!kept_title || s == nullptr)
            out.title = kept_title ? (v.guid == kMenu ? std::u16string(kMenuStandInTitle)
                                                      : std::u16string(kMobileStandInTitle))
                                   : v.title;
        if (has_address(v.kind)) {
            // The stored form is kept while it means the same address.
            if (s == nullptr ||
                (s->url != v.url && zm::comparison_key(s->url) != zm::comparison_key(v.url)))
                out.url = v.url;
        } else {
            out.url.clear();
        }
        if (v.kind != zm::NODE_FEED) out.feed_url.clear();
        for (const view_node_t& c : v.children) {
            if (c.guid.empty() || (without_stand_ins && is_stand_in_guid(c.guid))) continue;
            out.children.push_back(build(c));
        }
        if (s != nullptr) add_ghosts(*s, out);
        return out;
    }

    // Puts the children of `s` the browser cannot hold into `out`, each after
    // the sibling it followed in `s`.
    void add_ghosts(const zorvane_node_t& s, zorvane_node_t& out) const {
        std::size_t cursor = 0;
        for (const zorvane_node_t& c : s.children) {
            if (used.count(c.guid) != 0) {
                for (std::size_t i = 0; i < out.children.size(); ++i) {
                    if (out.children[i].guid == c.guid) {
                        cursor = i + 1;
                        break;
                    }
                }
            } else if (!holdable(c, layout)) {
                out.children.insert(out.children.begin() + static_cast<std::ptrdiff_t>(cursor),
                                    ghost(c));
                ++cursor;
            }
        }
    }
};

void renumber(zorvane_node_t& node) {
    for (std::size_t i = 0; i < node.children.size(); ++i) {
        node.children[i].index = static_cast<std::int32_t>(i);
        renumber(node.children[i]);
    }
}

const char16_t* default_title(const std::string& guid) {
    if (guid == kMenu) return u"Bookmarks Menu";
    if (guid == kToolbar) return u"Bookmarks Toolbar";
    if (guid == kUnfiled) return u"Other Bookmarks";
    return kMobileStandInTitle;
}

}  // namespace

zorvane_node_t to_engine(const view_node_t& tree, const layout_t& layout,
                         const zorvane_node_t& stored) {
    engine_builder b{layout, {}, {}};
    const bool have_stored = stored.type != zm::NODE_NONE;
    if (have_stored) index_tree(stored, b.stored_by_guid);
    b.collect(tree);

    // The browser's nodes for each top-level folder of the engine's tree.
    std::map<std::string, const view_node_t*> sources;
    for (const view_node_t& top : tree.children) {
        if (top.guid.empty()) continue;
        sources[top.guid] = &top;
        if (top.guid == kUnfiled) {
            for (const view_node_t& c : top.children)
                if (is_stand_in_guid(c.guid)) sources[c.guid] = &c;
        }
    }
    auto build_top = [&](const std::string& guid, const view_node_t& v) {
        // Unfiled without the stand-ins, which are folders of their own.
        zorvane_node_t out = b.build(v, guid == kUnfiled);
        out.type = zm::NODE_FOLDER;
        out.url.clear();
        auto stored_top = b.stored_by_guid.find(guid);
        out.title = stored_top == b.stored_by_guid.end() ? std::u16string(default_title(guid))
                                                         : stored_top->second->title;
        return out;
    };

    zorvane_node_t root(zm::NODE_FOLDER, kRoot);
    root.title = have_stored ? stored.title : u"root";
    if (root.title.empty()) root.title = u"root";
    std::set<std::string> placed;
    if (have_stored) {
        for (const zorvane_node_t& s : stored.children) {
            auto it = sources.find(s.guid);
            if (it != sources.end() && placed.count(s.guid) == 0) {
                root.children.push_back(build_top(s.guid, *it->second));
            } else if (b.used.count(s.guid) == 0) {
                root.children.push_back(b.ghost(s));
            }
            placed.insert(s.guid);
        }
    }
    for (const std::string& guid : {kMenu, kToolbar, kUnfiled, kMobile}) {
        if (placed.count(guid) != 0) continue;
        auto it = sources.find(guid);
        if (it != sources.end()) {
            if (guid == kMobile && it->second->children.empty()) continue;
            root.children.push_back(build_top(guid, *it->second));
        } else if (guid != kMobile) {
            zorvane_node_t empty(zm::NODE_FOLDER, guid);
            empty.title = default_title(guid);
            root.children.push_back(std::move(empty));
        }
    }
    renumber(root);
    return root;
}

namespace {

view_node_t view_of(const zorvane_node_t& s, const layout_t& layout) {
    view_node_t v;
    v.guid = s.guid;
    v.kind = s.type;
    v.title = s.title;
    v.url = s.url;
    v.created = s.created;
    for (const zorvane_node_t& c : s.children)
        if (holdable(c, layout)) v.children.push_back(view_of(c, layout));
    return v;
}

bool has_holdable(const zorvane_node_t& s, const layout_t& layout) {
    for (const zorvane_node_t& c : s.children)
        if (holdable(c, layout)) return true;
    return false;
}

const view_node_t* find_view(const view_node_t& tree, const std::string& guid) {
    if (tree.guid == guid) return &tree;
    for (const view_node_t& c : tree.children)
        if (const view_node_t* f = find_view(c, guid)) return f;
    return nullptr;
}

}  // namespace

view_node_t to_view(const zorvane_node_t& synced, const layout_t& layout,
                    const view_node_t* current) {
    const bool chromium = layout.browser == browser_enum::chromium;
    view_node_t root;
    root.guid = kRoot;
    root.id = layout.root_id;
    root.fixed = true;
    auto top = [&](const std::string& guid) -> const zorvane_node_t* {
        return zm::find_child(synced, guid);
    };
    // The browser's top-level folders, in the order the browser has them.
    std::vector<std::pair<std::string, std::string>> slots;  // id, guid
    if (current != nullptr) {
        for (const view_node_t& t : current->children) slots.emplace_back(t.id, t.guid);
    } else {
        for (const auto& [slot, id] : layout.slots) {
            std::string guid = slot_guid(slot);
            if (slot == "mobile" && chromium && !layout.mobile_root_used) guid.clear();
            slots.emplace_back(id, guid);
        }
    }
    for (const auto& [id, guid] : slots) {
        view_node_t v;
        if (const zorvane_node_t* s = guid.empty() ? nullptr : top(guid)) {
            v = view_of(*s, layout);
        } else if (!guid.empty()) {
            v.guid = guid;
        } else if (current != nullptr) {
            // A folder the host leaves alone: as the browser has it.
            for (const view_node_t& t : current->children)
                if (t.id == id) v = t;
        }
        v.id = id;
        v.fixed = true;
        v.kind = zm::NODE_FOLDER;
        if (guid == kUnfiled && chromium) {
            std::vector<view_node_t> stand_ins;
            for (const std::string& g : {kMenu, kMobile}) {
                if (g == kMobile && layout.mobile_root_used) continue;
                const zorvane_node_t* s = top(g);
                const bool present =
                    current != nullptr ? find_view(*current, g) != nullptr
                                       : std::find(layout.stand_ins.begin(), layout.stand_ins.end(),
                                                   g) != layout.stand_ins.end();
                if ((s != nullptr && has_holdable(*s, layout)) || present) {
                    view_node_t st = s != nullptr ? view_of(*s, layout) : view_node_t();
                    st.guid = g;
                    st.kind = zm::NODE_FOLDER;
                    st.title = g == kMenu ? kMenuStandInTitle : kMobileStandInTitle;
                    stand_ins.push_back(std::move(st));
                }
            }
            v.children.insert(v.children.begin(), stand_ins.begin(), stand_ins.end());
        }
        root.children.push_back(std::move(v));
    }
    return root;
}

bool fill_ids(view_node_t& view, const layout_t& layout, const id_table_t& table) {
    std::unordered_map<std::string, std::string> by_guid;
    for (const auto& [id, guid] : table) by_guid.emplace(guid, id);
    std::function<bool(view_node_t&)> fill = [&](view_node_t& v) {
        for (view_node_t& c : v.children) {
            if (!c.fixed) {
                auto it = by_guid.find(c.guid);
                if (it == by_guid.end()) return false;
                c.id = it->second;
            }
            if (!c.guid.empty() && !fill(c)) return false;
        }
        return true;
    };
    view.id = layout.root_id;
    return fill(view);
}

id_table_t table_of(const view_node_t& tree) {
    id_table_t out;
    std::function<void(const view_node_t&)> walk = [&](const view_node_t& v) {
        for (const view_node_t& c : v.children) {
            if (!c.id.empty() && !c.guid.empty()) out[c.id] = c.guid;
            if (!c.guid.empty()) walk(c);
        }
    };
    walk(tree);
    return out;
}

std::vector<operation_t> plan_operations(const view_node_t& current, const view_node_t& target) {
    std::vector<operation_t> ops;
    // The current nodes by identifier; the simulated child lists by key.
    std::unordered_map<std::string, const view_node_t*> now;
    std::unordered_map<std::string, std::vector<std::string>> lists;
    std::unordered_map<std::string, std::string> parent_of;
    std::function<void(const view_node_t&)> index = [&](const view_node_t& v) {
        std::vector<std::string>& list = lists[v.id];
        for (const view_node_t& c : v.children) {
            list.push_back(c.id);
            parent_of[c.id] = v.id;
            if (!c.guid.empty()) now.emplace(c.guid, &c);
            if (!c.fixed || !c.guid.empty()) index(c);
        }
    };
    index(current);

    std::unordered_set<std::string> wanted;
    std::function<void(const view_node_t&, const std::string&)> place =
        [&](const view_node_t& t, const std::string& key) {
            for (std::size_t i = 0; i < t.children.size(); ++i) {
                const view_node_t& c = t.children[i];
                wanted.insert(c.guid);
                if (c.fixed) {
                    if (!c.guid.empty()) place(c, c.id);
                    continue;
                }
                auto found = now.find(c.guid);
                std::vector<std::string>& list = lists[key];
                const int at = static_cast<int>(i);
                std::string child_key;
                if (found == now.end()) {
                    child_key = "@" + c.guid;
                    operation_t op;
                    op.op = operation_t::CREATE;
                    op.key = c.guid;
                    op.parent = key;
                    op.index = at;
                    op.kind = c.kind;
                    op.title = c.title;
                    if (has_address(c.kind))
                        op.url =
                            Core_Platform::wide_to_utf8(Core_ZorvaneMerge::to_display_form(c.url));
                    ops.push_back(std::move(op));
                    list.insert(list.begin() + std::min<std::ptrdiff_t>(at, list.size()),
                                child_key);
                    parent_of[child_key] = key;
                    lists[child_key];
                } else {
                    const view_node_t& n = *found->second;
                    child_key = n.id;
                    if (!(i < list.size() && list[i] == child_key)) {
                        std::vector<std::string>& old = lists[parent_of[child_key]];
                        std::erase(old, child_key);
                        list.insert(list.begin() + std::min<std::ptrdiff_t>(at, list.size()),
                                    child_key);
                        parent_of[child_key] = key;
                        operation_t op;
                        op.op = operation_t::MOVE;
                        op.key = child_key;
                        op.parent = key;
                        op.index = at;
                        ops.push_back(std::move(op));
                    }
                    const bool stand_in = is_stand_in_guid(c.guid);
                    const bool retitled = !stand_in && n.title != c.title &&
                                          c.kind != Core_ZorvaneMerge::NODE_SEPARATOR;
                    const bool readdressed =
                        has_address(c.kind) && Core_ZorvaneMerge::comparison_key(n.url) !=
                                                   Core_ZorvaneMerge::comparison_key(c.url);
                    if (retitled || readdressed) {
                        operation_t op;
                        op.op = operation_t::UPDATE;
                        op.key = child_key;
                        op.title = c.title;
                        if (has_address(c.kind))
                            op.url = Core_Platform::wide_to_utf8(
                                Core_ZorvaneMerge::to_display_form(c.url));
                        ops.push_back(std::move(op));
                    }
                }
                if (c.kind == Core_ZorvaneMerge::NODE_FOLDER) place(c, child_key);
            }
        };
    place(target, current.id);

    std::function<void(const view_node_t&)> remove = [&](const view_node_t& v) {
        for (const view_node_t& c : v.children) {
            if (c.fixed) {
                if (!c.guid.empty()) remove(c);
                continue;
            }
            if (wanted.count(c.guid) == 0) {
                operation_t op;
                op.op = operation_t::REMOVE;
                op.key = c.id;
                op.tree = c.kind == Core_ZorvaneMerge::NODE_FOLDER;
                ops.push_back(std::move(op));
                continue;
            }
            remove(c);
        }
    };
    remove(current);
    return ops;
}

}  // namespace Zorvane_Native
