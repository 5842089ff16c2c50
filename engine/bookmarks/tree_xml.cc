#include "bookmarks/tree_xml.h"

#include "bookmarks/url_forms.h"
#include "common/xml_node.h"

namespace Core_ZorvaneMerge {
namespace {

using Core_Common::xml_node_t;

// Every CR LF becomes LF, then every LF becomes CR LF.
std::u16string crlf_line_ends(std::u16string_view text) {
    std::u16string out;
    out.reserve(text.size() + text.size() / 16);
    for (std::size_t i = 0; i < text.size(); ++i) {
        char16_t c = text[i];
        if (c == u'\r' && i + 1 < text.size() && text[i + 1] == u'\n') continue;
        if (c == u'\n') out.push_back(u'\r');
        out.push_back(c);
    }
    return out;
}

std::u16string note_body(std::u16string text) {
    while (!text.empty() && (text.back() == u' ' || text.back() == u'\r' || text.back() == u'\n' ||
                             text.back() == u'\t')) {
        text.pop_back();
    }
    return crlf_line_ends(text);
}

void write_node(xml_node_t& parent, const zorvane_node_t& node) {
    xml_node_t& e = parent.add_child(u"node");
    e.add_child(u"guid").set_ansi(node.guid);
    e.add_child(u"type").set_ansi(type_name(node.type));
    e.add_child(u"name").set_wide(node.title);
    if (node.type == NODE_NOTE) {
        e.add_child(u"content").set_wide(crlf_line_ends(node.description));
    } else {
        e.add_child(u"description").set_wide(node.description);
        e.add_child(u"keyword").set_wide(node.keyword);
        e.add_child(u"tag").set_wide(node.tag);
        e.add_child(u"url").set_wide(to_display_form(node.url));
        e.add_child(u"feedurl").set_wide(to_display_form(node.feed_url));
        e.add_child(u"created").set_int64(node.created);
        e.add_child(u"modified").set_int64(node.modified);
    }
    if (!node.children.empty()) {
        xml_node_t& children = e.add_child(u"children");
        for (const zorvane_node_t& child : node.children) write_node(children, child);
    }
}

// The elements of one "node" element, found in one pass over its children:
// the first element of each name counts.
struct node_elements_t {
    enum { GUID, TYPE, NAME, CONTENT, DESCRIPTION, KEYWORD, TAG, URL, FEEDURL, CREATED, MODIFIED,
           CHILDREN, COUNT };
    const xml_node_t* at[COUNT] = {};

    explicit node_elements_t(const xml_node_t& e) {
        static constexpr std::u16string_view kNames[COUNT] = {
            u"guid", u"type",    u"name",    u"content",  u"description", u"keyword",
            u"tag",  u"url",     u"feedurl", u"created",  u"modified",    u"children"};
        for (const xml_node_t* c : e.children) {
            for (int i = 0; i < COUNT; ++i) {
                if (at[i] == nullptr && c->name == kNames[i]) {
                    at[i] = c;
                    break;
                }
            }
        }
    }

    // Each reader leaves `out` unchanged when the element is absent.
    void wide(int which, std::u16string& out) const {
        if (at[which] != nullptr) out = at[which]->get_wide();
    }
    void ansi(int which, std::string& out) const {
        if (at[which] != nullptr) out = at[which]->get_ansi();
    }
    void integer(int which, std::int64_t& out) const {
        if (at[which] != nullptr) out = at[which]->get_int64();
    }
    // The stored form of an address element; empty when absent.
    std::string address(int which) const {
        return at[which] != nullptr ? to_stored_form(at[which]->get_wide()) : std::string();
    }
};

bool read_node(const xml_node_t& e, zorvane_node_t& node) {
    using E = node_elements_t;
    const node_elements_t el(e);
    el.ansi(E::GUID, node.guid);
    if (node.guid.empty()) return false;
    std::string type;
    el.ansi(E::TYPE, type);
    node.type = type_from_name(type);
    if (node.type == NODE_NONE) return false;

    if (is_kernel_node(node)) {
        el.wide(E::NAME, node.title);
    } else if (node.type == NODE_NOTE) {
        el.wide(E::NAME, node.title);
        std::u16string content;
        el.wide(E::CONTENT, content);
        node.description = note_body(std::move(content));
    } else {
        if (node.type != NODE_SEPARATOR) {
            el.wide(E::NAME, node.title);
            if (node.title.empty()) return false;
            if (node.type != NODE_FOLDER) {
                node.url = el.address(E::URL);
                if (node.url.empty()) return false;
            }
            if (node.type == NODE_FEED) {
                node.feed_url = el.address(E::FEEDURL);
                if (node.feed_url.empty()) return false;
            }
        }
        el.wide(E::DESCRIPTION, node.description);
        el.wide(E::KEYWORD, node.keyword);
        el.wide(E::TAG, node.tag);
        el.integer(E::CREATED, node.created);
        el.integer(E::MODIFIED, node.modified);
    }

    const xml_node_t* children = el.at[E::CHILDREN];
    if (children == nullptr) return true;
    node.children.reserve(children->children.size());
    std::int32_t position = 0;
    for (const xml_node_t* c : children->children) {
        zorvane_node_t child(0, "");
        if (!read_node(*c, child)) return false;
        child.index = position++;
        node.children.push_back(std::move(child));
    }
    return true;
}

}  // namespace

void write_tree(const zorvane_node_t& tree, std::string& out) {
    xml_node_t document;
    document.name = u"nodeset";
    write_node(document, tree);
    out.clear();
    document.serialize(out, true);
}

void read_tree(std::string_view document, zorvane_node_t& tree) {
    tree = zorvane_node_t(0, "");
    xml_node_t root;
    if (!root.parse(document)) return;
    const xml_node_t* top = root.find_child(u"node");
    if (top == nullptr) return;
    zorvane_node_t result(0, "");
    if (read_node(*top, result)) tree = std::move(result);
}

}  // namespace Core_ZorvaneMerge
