#include "bookmarks_html.h"

#include <libxml/HTMLparser.h>
#include <libxml/tree.h>

#include <cctype>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <functional>
#include <map>
#include <memory>

#include "bookmarks/url_forms.h"
#include "platform/strings.h"

namespace Zorvane_Cli {
namespace {

using Core_ZorvaneMerge::zorvane_node_t;

constexpr std::int64_t kMicroseconds = 1000000;

std::string lower(const xmlChar* name) {
    std::string out(name ? reinterpret_cast<const char*>(name) : "");
    for (char& c : out) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return out;
}

std::string attribute(xmlNode* node, const char* name) {
    xmlChar* value = xmlGetProp(node, reinterpret_cast<const xmlChar*>(name));
    if (value == nullptr) return std::string();
    std::string out(reinterpret_cast<const char*>(value));
    xmlFree(value);
    return out;
}

// The text of `node` without the text of nested lists.
std::string own_text(xmlNode* node) {
    std::string out;
    for (xmlNode* c = node->children; c != nullptr; c = c->next) {
        if (c->type == XML_TEXT_NODE && c->content) {
            out += reinterpret_cast<const char*>(c->content);
        } else if (c->type == XML_ELEMENT_NODE && lower(c->name) != "dl" &&
                   lower(c->name) != "dt" && lower(c->name) != "dd") {
            out += own_text(c);
        }
    }
    const auto first = out.find_first_not_of(" \t\r\n");
    if (first == std::string::npos) return std::string();
    const auto last = out.find_last_not_of(" \t\r\n");
    return out.substr(first, last - first + 1);
}

std::int64_t seconds_attribute(xmlNode* node, const char* name) {
    const std::string text = attribute(node, name);
    if (text.empty() || text.size() > 12 ||
        text.find_first_not_of("0123456789") != std::string::npos)
        return 0;
    return std::stoll(text) * kMicroseconds;
}

std::string fnv_hex(const std::string& text) {
    std::uint64_t h = 1469598103934665603ull;
    for (unsigned char c : text) {
        h ^= c;
        h *= 1099511628211ull;
    }
    char out[17];
    std::snprintf(out, sizeof out, "%016llx", static_cast<unsigned long long>(h));
    return out;
}

struct read_state_t {
    zorvane_node_t* pending = nullptr;  // the folder whose list comes next
    zorvane_node_t* last = nullptr;     // the item a DD describes
};

// Appends `child` to `folder`.
zorvane_node_t& add(zorvane_node_t& folder, zorvane_node_t child) {
    child.index = static_cast<std::int32_t>(folder.children.size());
    folder.children.push_back(std::move(child));
    return folder.children.back();
}

void read_list(xmlNode* node, zorvane_node_t& folder, read_state_t& state);

void read_children(xmlNode* node, zorvane_node_t& folder, read_state_t& state) {
    for (xmlNode* c = node->children; c != nullptr; c = c->next) {
        if (c->type == XML_ELEMENT_NODE) read_list(c, folder, state);
    }
}

void read_list(xmlNode* node, zorvane_node_t& folder, read_state_t& state) {
    const std::string name = lower(node->name);
    if (name == "h3") {
        zorvane_node_t f;
        f.type = Core_ZorvaneMerge::NODE_FOLDER;
        f.title = Core_Platform::utf8_to_wide(own_text(node));
        if (f.title.empty()) f.title = u"(untitled)";
        f.created = seconds_attribute(node, "add_date");
        f.modified = seconds_attribute(node, "last_modified");
        // Marks kept for the top level; cleared below.
        if (!attribute(node, "personal_toolbar_folder").empty()) f.keyword = u"\x01toolbar";
        if (!attribute(node, "unfiled_bookmarks_folder").empty()) f.keyword = u"\x01unfiled";
        zorvane_node_t& added = add(folder, std::move(f));
        state.pending = &added;
        state.last = &added;
    } else if (name == "dl") {
        zorvane_node_t* target = state.pending ? state.pending : &folder;
        state.pending = nullptr;
        read_state_t inner;
        read_children(node, *target, inner);
        state.last = nullptr;
    } else if (name == "a") {
        zorvane_node_t b;
        const std::string feed = attribute(node, "feedurl");
        b.type = feed.empty() ? Core_ZorvaneMerge::NODE_BOOKMARK : Core_ZorvaneMerge::NODE_FEED;
        b.url =
            Core_ZorvaneMerge::to_stored_form(Core_Platform::utf8_to_wide(attribute(node, "href")));
        if (!feed.empty())
            b.feed_url = Core_ZorvaneMerge::to_stored_form(Core_Platform::utf8_to_wide(feed));
        b.title = Core_Platform::utf8_to_wide(own_text(node));
        if (b.title.empty()) b.title = Core_Platform::utf8_to_wide(attribute(node, "href"));
        b.keyword = Core_Platform::utf8_to_wide(attribute(node, "shortcuturl"));
        b.tag = Core_Platform::utf8_to_wide(attribute(node, "tags"));
        b.created = seconds_attribute(node, "add_date");
        b.modified = seconds_attribute(node, "last_modified");
        state.pending = nullptr;
        if (b.url.empty()) return;  // an anchor without an address is no bookmark
        state.last = &add(folder, std::move(b));
    } else if (name == "hr") {
        zorvane_node_t s;
        s.type = Core_ZorvaneMerge::NODE_SEPARATOR;
        state.pending = nullptr;
        state.last = &add(folder, std::move(s));
    } else if (name == "dd") {
        if (state.last != nullptr && state.last->description.empty())
            state.last->description = Core_Platform::utf8_to_wide(own_text(node));
        read_children(node, folder, state);
    } else {
        read_children(node, folder, state);
    }
}

xmlNode* find_list(xmlNode* node) {
    for (xmlNode* c = node; c != nullptr; c = c->next) {
        if (c->type != XML_ELEMENT_NODE) continue;
        if (lower(c->name) == "dl") return c;
        if (xmlNode* found = find_list(c->children)) return found;
    }
    return nullptr;
}

zorvane_node_t kernel_folder(std::string_view guid, const char16_t* title) {
    zorvane_node_t f;
    f.guid = std::string(guid);
    f.type = Core_ZorvaneMerge::NODE_FOLDER;
    f.title = title;
    return f;
}

std::string escape(const std::string& text) {
    std::string out;
    for (char c : text) {
        switch (c) {
            case '&':
                out += "&amp;";
                break;
            case '<':
                out += "&lt;";
                break;
            case '>':
                out += "&gt;";
                break;
            case '"':
                out += "&quot;";
                break;
            default:
                out += c;
        }
    }
    return out;
}

std::string dates(const zorvane_node_t& node) {
    std::string out;
    if (node.created > 0)
        out += " ADD_DATE=\"" + std::to_string(node.created / kMicroseconds) + "\"";
    if (node.modified > 0)
        out += " LAST_MODIFIED=\"" + std::to_string(node.modified / kMicroseconds) + "\"";
    return out;
}

void write_items(const zorvane_node_t& folder, int depth, std::string& out);

void write_item(const zorvane_node_t& node, int depth, const char* mark, std::string& out) {
    const std::string pad(static_cast<std::size_t>(depth) * 4, ' ');
    auto u8 = [](const std::u16string& s) { return escape(Core_Platform::wide_to_utf8(s)); };
    if (node.type == Core_ZorvaneMerge::NODE_FOLDER) {
        out += pad + "<DT><H3" + dates(node) + mark + ">" + u8(node.title) + "</H3>\n";
        if (!node.description.empty()) out += pad + "<DD>" + u8(node.description) + "\n";
        out += pad + "<DL><p>\n";
        write_items(node, depth + 1, out);
        out += pad + "</DL><p>\n";
    } else if (node.type == Core_ZorvaneMerge::NODE_SEPARATOR) {
        out += pad + "<HR>\n";
    } else if (!node.url.empty()) {
        out += pad + "<DT><A HREF=\"" + u8(Core_ZorvaneMerge::to_display_form(node.url)) + "\"" +
               dates(node);
        if (!node.feed_url.empty())
            out += " FEEDURL=\"" + u8(Core_ZorvaneMerge::to_display_form(node.feed_url)) + "\"";
        if (!node.keyword.empty()) out += " SHORTCUTURL=\"" + u8(node.keyword) + "\"";
        if (!node.tag.empty()) out += " TAGS=\"" + u8(node.tag) + "\"";
        out += ">" + u8(node.title) + "</A>\n";
        if (!node.description.empty()) out += pad + "<DD>" + u8(node.description) + "\n";
    }
}

void write_items(const zorvane_node_t& folder, int depth, std::string& out) {
    for (const zorvane_node_t& child : folder.children) write_item(child, depth, "", out);
}

}  // namespace

bool read_bookmarks_html(std::string_view html, zorvane_node_t& tree) {
    if (html.size() > static_cast<std::size_t>(INT32_MAX)) return false;
    std::unique_ptr<xmlDoc, void (*)(xmlDoc*)> doc(
        htmlReadMemory(html.data(), static_cast<int>(html.size()), nullptr, "UTF-8",
                       HTML_PARSE_NOERROR | HTML_PARSE_NOWARNING | HTML_PARSE_NONET),
        xmlFreeDoc);
    if (!doc) return false;
    xmlNode* list = find_list(xmlDocGetRootElement(doc.get()));
    if (list == nullptr) return false;

    zorvane_node_t top;
    top.guid = std::string(Core_ZorvaneMerge::kMenuGuid);
    read_state_t state;
    read_children(list, top, state);

    zorvane_node_t root = kernel_folder(Core_ZorvaneMerge::kRootGuid, u"root");
    zorvane_node_t menu = kernel_folder(Core_ZorvaneMerge::kMenuGuid, u"Bookmarks Menu");
    zorvane_node_t toolbar = kernel_folder(Core_ZorvaneMerge::kToolbarGuid, u"Bookmarks Toolbar");
    zorvane_node_t unfiled = kernel_folder(Core_ZorvaneMerge::kUnfiledGuid, u"Other Bookmarks");
    for (zorvane_node_t& child : top.children) {
        if (child.type == Core_ZorvaneMerge::NODE_FOLDER && child.keyword == u"\x01toolbar") {
            toolbar.title = child.title;
            toolbar.children = std::move(child.children);
        } else if (child.type == Core_ZorvaneMerge::NODE_FOLDER &&
                   child.keyword == u"\x01unfiled") {
            unfiled.title = child.title;
            unfiled.children = std::move(child.children);
        } else {
            menu.children.push_back(std::move(child));
        }
    }
    // Folder marks are not keywords. A bookmark file carries no identifiers,
    // so each node gets one from what it is rather than where it stands:
    // an item with an address from that address and how many items with the
    // same kind and address came before it in the file; a folder from its
    // parent's identifier, its title and how many folders of that title came
    // before it in the parent; a separator from its parent and how many
    // separators came before it there. The same file always gives the same
    // identifiers, and the same bookmark gets the same identifier in the
    // files of two browsers, wherever it stands, so a merge knows it as one
    // bookmark, and a bookmark moved or renamed in the browser keeps its
    // identifier.
    std::map<std::string, int> seen_addresses;
    std::function<void(zorvane_node_t&)> clear = [&](zorvane_node_t& n) {
        if (n.type == Core_ZorvaneMerge::NODE_FOLDER && !n.keyword.empty() &&
            n.keyword[0] == u'\x01')
            n.keyword.clear();
        std::map<std::string, int> seen_here;  // folder titles and separators in `n`
        for (std::size_t i = 0; i < n.children.size(); ++i) {
            zorvane_node_t& c = n.children[i];
            c.index = static_cast<std::int32_t>(i);
            if (c.guid.empty()) {
                const std::string kind = std::to_string(c.type);
                std::string key;
                if (!c.url.empty()) {
                    key = kind + "/" + c.url;
                    key += "#" + std::to_string(seen_addresses[key]++);
                } else {
                    key = n.guid + "/" + kind + "/" + Core_Platform::wide_to_utf8(c.title);
                    key += "#" + std::to_string(seen_here[key]++);
                }
                c.guid = "h" + fnv_hex(key);
            }
            clear(c);
        }
    };
    root.children = {std::move(menu), std::move(toolbar), std::move(unfiled)};
    clear(root);
    tree = std::move(root);
    return true;
}

std::string write_bookmarks_html(const zorvane_node_t& tree) {
    std::string out =
        "<!DOCTYPE NETSCAPE-Bookmark-file-1>\n"
        "<META HTTP-EQUIV=\"Content-Type\" CONTENT=\"text/html; charset=UTF-8\">\n"
        "<TITLE>Bookmarks</TITLE>\n<H1>Bookmarks</H1>\n\n<DL><p>\n";
    const zorvane_node_t* menu = Core_ZorvaneMerge::find_child(tree, Core_ZorvaneMerge::kMenuGuid);
    const zorvane_node_t* toolbar =
        Core_ZorvaneMerge::find_child(tree, Core_ZorvaneMerge::kToolbarGuid);
    const zorvane_node_t* unfiled =
        Core_ZorvaneMerge::find_child(tree, Core_ZorvaneMerge::kUnfiledGuid);
    if (menu) write_items(*menu, 1, out);
    if (toolbar) write_item(*toolbar, 1, " PERSONAL_TOOLBAR_FOLDER=\"true\"", out);
    if (unfiled) write_item(*unfiled, 1, " UNFILED_BOOKMARKS_FOLDER=\"true\"", out);
    for (const zorvane_node_t& child : tree.children) {
        if (&child != menu && &child != toolbar && &child != unfiled) write_item(child, 1, "", out);
    }
    out += "</DL><p>\n";
    return out;
}

}  // namespace Zorvane_Cli
