#include "bookmarks/bookmarks_html.h"

#include <libxml/HTMLparser.h>
#include <libxml/parserInternals.h>
#include <libxml/tree.h>

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <cstring>
#include <functional>
#include <memory>
#include <unordered_map>
#include <utility>
#include <vector>

#include "bookmarks/url_forms.h"
#include "platform/strings.h"

namespace Core_ZorvaneMerge {
namespace {

constexpr std::int64_t kMicroseconds = 1000000;

// The parts of an HTML bookmark file the reader looks at, kept by the
// parser's events in a compact tree of their own: the library's document
// tree of a file of 50,000 bookmarks takes several times the memory and
// the time.
enum tag_enum : std::uint8_t { TAG_TEXT, TAG_OTHER, TAG_H3, TAG_DL, TAG_DT, TAG_DD, TAG_A, TAG_HR };

enum attribute_enum : std::uint8_t {
    ATTR_ADD_DATE,
    ATTR_LAST_MODIFIED,
    ATTR_PERSONAL_TOOLBAR_FOLDER,
    ATTR_UNFILED_BOOKMARKS_FOLDER,
    ATTR_FEEDURL,
    ATTR_HREF,
    ATTR_SHORTCUTURL,
    ATTR_TAGS,
    ATTR_NONE,
};

constexpr std::uint32_t kNone = UINT32_MAX;

// Elements nested deeper than this refuse the file: a folder takes two or
// three levels (DT, DL, and P where the file has one), so every tree the
// engine accepts fits.
constexpr std::size_t kMaxNesting = 3 * kMaxTreeDepth + 16;

// An element (with the attributes the reader uses) or a run of text.
struct html_node_t {
    tag_enum tag = TAG_OTHER;
    std::uint32_t first_child = kNone;
    std::uint32_t last_child = kNone;
    std::uint32_t next = kNone;
    std::string text;  // a text node's characters
    std::vector<std::pair<attribute_enum, std::string>> attributes;
};

bool same_name(const char* name, const char* lower_name) {
    for (; *name != '\0' && *lower_name != '\0'; ++name, ++lower_name) {
        if (std::tolower(static_cast<unsigned char>(*name)) != *lower_name) return false;
    }
    return *name == '\0' && *lower_name == '\0';
}

tag_enum tag_of(const char* name) {
    if (same_name(name, "h3")) return TAG_H3;
    if (same_name(name, "dl")) return TAG_DL;
    if (same_name(name, "dt")) return TAG_DT;
    if (same_name(name, "dd")) return TAG_DD;
    if (same_name(name, "a")) return TAG_A;
    if (same_name(name, "hr")) return TAG_HR;
    return TAG_OTHER;
}

attribute_enum attribute_of(const char* name) {
    static constexpr std::pair<const char*, attribute_enum> kNames[] = {
        {"add_date", ATTR_ADD_DATE},
        {"last_modified", ATTR_LAST_MODIFIED},
        {"personal_toolbar_folder", ATTR_PERSONAL_TOOLBAR_FOLDER},
        {"unfiled_bookmarks_folder", ATTR_UNFILED_BOOKMARKS_FOLDER},
        {"feedurl", ATTR_FEEDURL},
        {"href", ATTR_HREF},
        {"shortcuturl", ATTR_SHORTCUTURL},
        {"tags", ATTR_TAGS},
    };
    for (const auto& [text, code] : kNames) {
        if (same_name(name, text)) return code;
    }
    return ATTR_NONE;
}

// Builds the compact tree from the parser's events, the way the library
// builds its own document tree: element events nest (the parser reports the
// elements it closes by implication), adjacent text runs join, and
// whitespace the parser calls ignorable is dropped.
struct html_builder_t {
    std::vector<html_node_t> nodes;
    std::vector<std::uint32_t> open;  // the elements being read, innermost last
    htmlParserCtxtPtr context = nullptr;
    // The parser stopped at an element nested deeper than kMaxNesting.
    bool too_deep = false;

    html_builder_t() {
        nodes.emplace_back();  // the document
        open.push_back(0);
    }

    std::uint32_t append(html_node_t node) {
        const std::uint32_t parent = open.back();
        const auto index = static_cast<std::uint32_t>(nodes.size());
        nodes.push_back(std::move(node));
        if (nodes[parent].last_child == kNone) {
            nodes[parent].first_child = index;
        } else {
            nodes[nodes[parent].last_child].next = index;
        }
        nodes[parent].last_child = index;
        return index;
    }

    static void on_start(void* context, const xmlChar* name, const xmlChar** attributes) {
        auto& self = *static_cast<html_builder_t*>(context);
        if (self.too_deep) return;
        if (self.open.size() > kMaxNesting) {
            // The readers below recurse along the elements.
            self.too_deep = true;
            xmlStopParser(self.context);
            return;
        }
        html_node_t node;
        node.tag = tag_of(reinterpret_cast<const char*>(name));
        if (node.tag != TAG_OTHER && attributes != nullptr) {
            for (const xmlChar** a = attributes; a[0] != nullptr; a += 2) {
                const attribute_enum code = attribute_of(reinterpret_cast<const char*>(a[0]));
                if (code == ATTR_NONE) continue;
                node.attributes.emplace_back(
                    code, a[1] != nullptr ? reinterpret_cast<const char*>(a[1]) : "");
            }
        }
        self.open.push_back(self.append(std::move(node)));
    }

    static void on_end(void* context, const xmlChar*) {
        auto& self = *static_cast<html_builder_t*>(context);
        if (self.too_deep) return;
        if (self.open.size() > 1) self.open.pop_back();
    }

    static void on_characters(void* context, const xmlChar* text, int length) {
        auto& self = *static_cast<html_builder_t*>(context);
        if (length <= 0 || self.too_deep) return;
        const std::uint32_t parent = self.open.back();
        const std::uint32_t last = self.nodes[parent].last_child;
        const auto* chars = reinterpret_cast<const char*>(text);
        if (last != kNone && self.nodes[last].tag == TAG_TEXT) {
            self.nodes[last].text.append(chars, static_cast<std::size_t>(length));
            return;
        }
        html_node_t node;
        node.tag = TAG_TEXT;
        node.text.assign(chars, static_cast<std::size_t>(length));
        self.append(std::move(node));
    }

    static void on_problem(void*, const char*, ...) {}
};

// Parses `html` into `tree` (the document is node 0). False when the parser
// cannot start.
bool parse_html(std::string_view html, html_builder_t& tree) {
    if (html.size() > static_cast<std::size_t>(INT32_MAX)) return false;
    htmlSAXHandler sax;
    std::memset(&sax, 0, sizeof sax);
    sax.startElement = &html_builder_t::on_start;
    sax.endElement = &html_builder_t::on_end;
    sax.characters = &html_builder_t::on_characters;
    sax.cdataBlock = &html_builder_t::on_characters;
    // Problems with the markup are no reason to stop, nor worth a message.
    sax.warning = &html_builder_t::on_problem;
    sax.error = &html_builder_t::on_problem;
    sax.fatalError = &html_builder_t::on_problem;

    // An element per "<" at most, and a text beside each: the nodes are
    // reserved once rather than copied as they grow (at most 4 million, so a
    // file of "<" and little else reserves no more than a large collection
    // needs).
    const auto marks = static_cast<std::size_t>(std::count(html.begin(), html.end(), '<'));
    tree.nodes.reserve(std::min<std::size_t>(2 * marks + 2, std::size_t{1} << 22));
    htmlParserCtxtPtr context =
        htmlCreateMemoryParserCtxt(html.data(), static_cast<int>(html.size()));
    if (context == nullptr) return false;
    if (xmlCharEncodingHandlerPtr utf8 = xmlFindCharEncodingHandler("UTF-8")) {
        xmlSwitchToEncoding(context, utf8);
    }
    htmlCtxtUseOptions(context, HTML_PARSE_NONET);
    // The context frees its handler table: ours lives on this stack frame
    // and is taken back before that.
    htmlSAXHandlerPtr own = context->sax;
    context->sax = &sax;
    context->userData = &tree;
    tree.context = context;
    htmlParseDocument(context);
    context->sax = own;
    context->userData = context;
    if (context->myDoc != nullptr) {
        xmlFreeDoc(context->myDoc);
        context->myDoc = nullptr;
    }
    htmlFreeParserCtxt(context);
    tree.context = nullptr;
    return true;
}

bool starts_with_nocase(std::string_view text, std::size_t at, std::string_view lower) {
    if (text.size() - at < lower.size()) return false;
    for (std::size_t i = 0; i < lower.size(); ++i) {
        if (std::tolower(static_cast<unsigned char>(text[at + i])) != lower[i]) return false;
    }
    return true;
}

// True when the file declares anything: an entity declaration, or a
// document type with an internal subset. Bookmark files start with a bare
// <!DOCTYPE NETSCAPE-Bookmark-file-1>; HTML's own named character
// references (&amp;, &eacute;) stand for one character each and stay.
bool has_declarations(std::string_view html) {
    for (std::size_t at = html.find("<!"); at != std::string_view::npos;
         at = html.find("<!", at + 2)) {
        if (starts_with_nocase(html, at + 2, "entity")) return true;
        if (starts_with_nocase(html, at + 2, "doctype")) {
            const std::size_t end = html.find('>', at);
            if (html.substr(at, end == std::string_view::npos ? end : end - at).find('[') !=
                std::string_view::npos)
                return true;
        }
    }
    return false;
}

const std::string* attribute_value(const html_node_t& node, attribute_enum code) {
    for (const auto& [name, value] : node.attributes) {
        if (name == code) return &value;
    }
    return nullptr;
}

std::string attribute(const html_node_t& node, attribute_enum code) {
    const std::string* value = attribute_value(node, code);
    return value != nullptr ? *value : std::string();
}

// The text of `node` without the text of nested lists.
void append_own_text(const html_builder_t& tree, const html_node_t& node, std::string& out) {
    for (std::uint32_t c = node.first_child; c != kNone; c = tree.nodes[c].next) {
        const html_node_t& child = tree.nodes[c];
        if (child.tag == TAG_TEXT) {
            out += child.text;
        } else if (child.tag != TAG_DL && child.tag != TAG_DT && child.tag != TAG_DD) {
            append_own_text(tree, child, out);
        }
    }
}

std::string own_text(const html_builder_t& tree, const html_node_t& node) {
    std::string out;
    append_own_text(tree, node, out);
    const auto first = out.find_first_not_of(" \t\r\n");
    if (first == std::string::npos) return std::string();
    const auto last = out.find_last_not_of(" \t\r\n");
    return out.substr(first, last - first + 1);
}

std::int64_t seconds_attribute(const html_node_t& node, attribute_enum code) {
    const std::string text = attribute(node, code);
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
    static constexpr char kDigits[] = "0123456789abcdef";
    std::string out(16, '0');
    for (int i = 15; i >= 0; --i, h >>= 4) out[static_cast<std::size_t>(i)] = kDigits[h & 15];
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

void read_list(const html_builder_t& tree, const html_node_t& node, zorvane_node_t& folder,
               read_state_t& state);

void read_children(const html_builder_t& tree, const html_node_t& node, zorvane_node_t& folder,
                   read_state_t& state) {
    for (std::uint32_t c = node.first_child; c != kNone; c = tree.nodes[c].next) {
        if (tree.nodes[c].tag != TAG_TEXT) read_list(tree, tree.nodes[c], folder, state);
    }
}

void read_list(const html_builder_t& tree, const html_node_t& node, zorvane_node_t& folder,
               read_state_t& state) {
    if (node.tag == TAG_H3) {
        zorvane_node_t f;
        f.type = NODE_FOLDER;
        f.title = Core_Platform::utf8_to_wide(own_text(tree, node));
        if (f.title.empty()) f.title = u"(untitled)";
        f.created = seconds_attribute(node, ATTR_ADD_DATE);
        f.modified = seconds_attribute(node, ATTR_LAST_MODIFIED);
        // Marks kept for the top level; cleared below.
        if (!attribute(node, ATTR_PERSONAL_TOOLBAR_FOLDER).empty()) f.keyword = u"\x01toolbar";
        if (!attribute(node, ATTR_UNFILED_BOOKMARKS_FOLDER).empty()) f.keyword = u"\x01unfiled";
        zorvane_node_t& added = add(folder, std::move(f));
        state.pending = &added;
        state.last = &added;
    } else if (node.tag == TAG_DL) {
        zorvane_node_t* target = state.pending ? state.pending : &folder;
        state.pending = nullptr;
        read_state_t inner;
        read_children(tree, node, *target, inner);
        state.last = nullptr;
    } else if (node.tag == TAG_A) {
        zorvane_node_t b;
        const std::string feed = attribute(node, ATTR_FEEDURL);
        const std::string href = attribute(node, ATTR_HREF);
        b.type = feed.empty() ? NODE_BOOKMARK : NODE_FEED;
        b.url = to_stored_form(Core_Platform::utf8_to_wide(href));
        if (!feed.empty()) b.feed_url = to_stored_form(Core_Platform::utf8_to_wide(feed));
        b.title = Core_Platform::utf8_to_wide(own_text(tree, node));
        if (b.title.empty()) b.title = Core_Platform::utf8_to_wide(href);
        b.keyword = Core_Platform::utf8_to_wide(attribute(node, ATTR_SHORTCUTURL));
        b.tag = Core_Platform::utf8_to_wide(attribute(node, ATTR_TAGS));
        b.created = seconds_attribute(node, ATTR_ADD_DATE);
        b.modified = seconds_attribute(node, ATTR_LAST_MODIFIED);
        state.pending = nullptr;
        if (b.url.empty()) return;  // an anchor without an address is no bookmark
        state.last = &add(folder, std::move(b));
    } else if (node.tag == TAG_HR) {
        zorvane_node_t s;
        s.type = NODE_SEPARATOR;
        state.pending = nullptr;
        state.last = &add(folder, std::move(s));
    } else if (node.tag == TAG_DD) {
        if (state.last != nullptr && state.last->description.empty())
            state.last->description = Core_Platform::utf8_to_wide(own_text(tree, node));
        read_children(tree, node, folder, state);
    } else {
        read_children(tree, node, folder, state);
    }
}

// The first list element in document order.
const html_node_t* find_list(const html_builder_t& tree, const html_node_t& node) {
    for (std::uint32_t c = node.first_child; c != kNone; c = tree.nodes[c].next) {
        const html_node_t& child = tree.nodes[c];
        if (child.tag == TAG_TEXT) continue;
        if (child.tag == TAG_DL) return &child;
        if (const html_node_t* found = find_list(tree, child)) return found;
    }
    return nullptr;
}

zorvane_node_t kernel_folder(std::string_view guid, const char16_t* title) {
    zorvane_node_t f;
    f.guid = std::string(guid);
    f.type = NODE_FOLDER;
    f.title = title;
    return f;
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
    auto u8 = [](const std::u16string& s) { return html_escape(Core_Platform::wide_to_utf8(s)); };
    if (node.type == NODE_FOLDER) {
        out += pad + "<DT><H3" + dates(node) + mark + ">" + u8(node.title) + "</H3>\n";
        if (!node.description.empty()) out += pad + "<DD>" + u8(node.description) + "\n";
        out += pad + "<DL><p>\n";
        write_items(node, depth + 1, out);
        out += pad + "</DL><p>\n";
    } else if (node.type == NODE_SEPARATOR) {
        out += pad + "<HR>\n";
    } else if (!node.url.empty()) {
        out += pad + "<DT><A HREF=\"" + u8(to_display_form(node.url)) + "\"" + dates(node);
        if (!node.feed_url.empty())
            out += " FEEDURL=\"" + u8(to_display_form(node.feed_url)) + "\"";
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

bool read_bookmarks_html(std::string_view html, zorvane_node_t& tree, std::string* error) {
    auto refuse = [&](std::string why) {
        if (error != nullptr) *error = std::move(why);
        return false;
    };
    const std::string too_deep =
        "folders nested deeper than " + std::to_string(kMaxTreeDepth - 2) + " levels";
    if (has_declarations(html)) return refuse("an entity declaration or a document type subset");
    html_builder_t parsed;
    if (!parse_html(html, parsed)) return refuse("the HTML parser cannot start");
    if (parsed.too_deep) return refuse(too_deep);
    const html_node_t* list = find_list(parsed, parsed.nodes[0]);
    if (list == nullptr) return refuse("no bookmark list in this file");

    zorvane_node_t top;
    top.guid = std::string(kMenuGuid);
    read_state_t state;
    read_children(parsed, *list, top, state);
    // The parsed file is not needed any more.
    parsed = html_builder_t();

    zorvane_node_t root = kernel_folder(kRootGuid, u"root");
    zorvane_node_t menu = kernel_folder(kMenuGuid, u"Bookmarks Menu");
    zorvane_node_t toolbar = kernel_folder(kToolbarGuid, u"Bookmarks Toolbar");
    zorvane_node_t unfiled = kernel_folder(kUnfiledGuid, u"Other Bookmarks");
    for (zorvane_node_t& child : top.children) {
        if (child.type == NODE_FOLDER && child.keyword == u"\x01toolbar") {
            toolbar.title = child.title;
            toolbar.children = std::move(child.children);
        } else if (child.type == NODE_FOLDER && child.keyword == u"\x01unfiled") {
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
    // Counted by hash (a file of 200,000 bookmarks has as many addresses):
    // only the counts matter, not any order.
    std::unordered_map<std::string, int> seen_addresses;
    std::function<void(zorvane_node_t&)> clear = [&](zorvane_node_t& n) {
        if (n.type == NODE_FOLDER && !n.keyword.empty() && n.keyword[0] == u'\x01')
            n.keyword.clear();
        std::unordered_map<std::string, int> seen_here;  // folder titles and separators in `n`
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
    // Moved in one by one: a braced list would copy each (and with them
    // every bookmark of the file).
    root.children.reserve(3);
    root.children.push_back(std::move(menu));
    root.children.push_back(std::move(toolbar));
    root.children.push_back(std::move(unfiled));
    if (!within_depth(root)) return refuse(too_deep);
    clear(root);
    tree = std::move(root);
    return true;
}

std::string html_escape(std::string_view text) {
    std::string out;
    out.reserve(text.size());
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

std::string write_bookmarks_html(const zorvane_node_t& tree) {
    std::string out =
        "<!DOCTYPE NETSCAPE-Bookmark-file-1>\n"
        "<META HTTP-EQUIV=\"Content-Type\" CONTENT=\"text/html; charset=UTF-8\">\n"
        "<TITLE>Bookmarks</TITLE>\n<H1>Bookmarks</H1>\n\n<DL><p>\n";
    const zorvane_node_t* menu = find_child(tree, kMenuGuid);
    const zorvane_node_t* toolbar = find_child(tree, kToolbarGuid);
    const zorvane_node_t* unfiled = find_child(tree, kUnfiledGuid);
    if (menu) write_items(*menu, 1, out);
    if (toolbar) write_item(*toolbar, 1, " PERSONAL_TOOLBAR_FOLDER=\"true\"", out);
    if (unfiled) write_item(*unfiled, 1, " UNFILED_BOOKMARKS_FOLDER=\"true\"", out);
    for (const zorvane_node_t& child : tree.children) {
        if (&child != menu && &child != toolbar && &child != unfiled) write_item(child, 1, "", out);
    }
    out += "</DL><p>\n";
    return out;
}

}  // namespace Core_ZorvaneMerge
