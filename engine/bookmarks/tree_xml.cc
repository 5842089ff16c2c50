#include "bookmarks/tree_xml.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <iterator>
#include <optional>

#include "bookmarks/url_forms.h"
#include "common/xml_node.h"
#include "common/xml_stream.h"
#include "platform/strings.h"

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
    enum {
        GUID,
        TYPE,
        NAME,
        CONTENT,
        DESCRIPTION,
        KEYWORD,
        TAG,
        URL,
        FEEDURL,
        CREATED,
        MODIFIED,
        CHILDREN,
        COUNT
    };
    const xml_node_t* at[COUNT] = {};

    explicit node_elements_t(const xml_node_t& e) {
        static constexpr std::u16string_view kNames[COUNT] = {
            u"guid", u"type", u"name",    u"content", u"description", u"keyword",
            u"tag",  u"url",  u"feedurl", u"created", u"modified",    u"children"};
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

bool read_node(const xml_node_t& e, zorvane_node_t& node, std::size_t depth) {
    using E = node_elements_t;
    if (depth > kMaxTreeDepth) return false;
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
        if (!read_node(*c, child, depth + 1)) return false;
        child.index = position++;
        node.children.push_back(std::move(child));
    }
    return true;
}

// ---- The streaming forms ----
//
// They give what the node-based forms above give (the same bytes written,
// the same trees read, the same documents refused) without a tree of
// xml_node_t and the library's document in memory.

void stream_leaf(Core_Common::xml_writer_t& w, std::string_view name, std::string& scratch,
                 std::u16string_view wide) {
    Core_Platform::wide_to_utf8(wide, scratch);
    w.leaf(name, scratch);
}

// An address in its display form; a plain address is its own display form.
void stream_address(Core_Common::xml_writer_t& w, std::string_view name, std::string& scratch,
                    const std::string& stored) {
    if (is_plain_address(stored)) {
        w.leaf(name, stored);
    } else {
        stream_leaf(w, name, scratch, to_display_form(stored));
    }
}

void stream_number(Core_Common::xml_writer_t& w, std::string_view name, std::int64_t value) {
    char digits[24];
    const auto end = std::to_chars(std::begin(digits), std::end(digits), value).ptr;
    w.leaf(name, std::string_view(digits, static_cast<std::size_t>(end - digits)));
}

// Where a streamed document goes: `out` (the writer's buffer) is handed to
// `sink` and emptied whenever it holds `piece` bytes or more.
struct piecewise_t {
    std::string& out;
    const std::function<void(std::string_view)>& sink;
    std::size_t piece;
    void flush_if_full() {
        if (out.size() >= piece) {
            sink(out);
            out.clear();
        }
    }
};

// Writes the "node" element of `node` up to its children; returns true when
// it left a "children" element open for them, else closes the node.
bool stream_node_start(Core_Common::xml_writer_t& w, const zorvane_node_t& node,
                       std::string& scratch) {
    w.open("node");
    // Narrow values are in the ANSI code page; the document holds UTF-8.
    Core_Platform::ansi_to_utf8(node.guid, scratch);
    w.leaf("guid", scratch);
    Core_Platform::ansi_to_utf8(type_name(node.type), scratch);
    w.leaf("type", scratch);
    stream_leaf(w, "name", scratch, node.title);
    if (node.type == NODE_NOTE) {
        stream_leaf(w, "content", scratch, crlf_line_ends(node.description));
    } else {
        stream_leaf(w, "description", scratch, node.description);
        stream_leaf(w, "keyword", scratch, node.keyword);
        stream_leaf(w, "tag", scratch, node.tag);
        stream_address(w, "url", scratch, node.url);
        stream_address(w, "feedurl", scratch, node.feed_url);
        stream_number(w, "created", node.created);
        stream_number(w, "modified", node.modified);
    }
    if (node.children.empty()) {
        w.close();
        return false;
    }
    w.open("children");
    return true;
}

// The nodes in document order, without recursion: however deep a tree a
// merge made, writing it cannot exhaust the stack. With `pieces`, the
// document goes out whenever a piece's worth is written.
void stream_tree(Core_Common::xml_writer_t& w, const zorvane_node_t& top, std::string& scratch,
                 piecewise_t* pieces = nullptr) {
    // The nodes whose "children" element is open, with the next child to write.
    std::vector<std::pair<const zorvane_node_t*, std::size_t>> open;
    if (stream_node_start(w, top, scratch)) open.emplace_back(&top, 0);
    while (!open.empty()) {
        if (pieces != nullptr) pieces->flush_if_full();
        const zorvane_node_t& node = *open.back().first;
        const std::size_t next = open.back().second++;
        if (next == node.children.size()) {
            open.pop_back();
            w.close();  // children
            w.close();  // node
            continue;
        }
        const zorvane_node_t& child = node.children[next];
        if (stream_node_start(w, child, scratch)) open.emplace_back(&child, 0);
    }
    if (pieces != nullptr) pieces->flush_if_full();
}

// Builds the tree from the document's events, taking for each "node"
// element the first child element of every name as read_node() does.
class tree_reader_t final : public Core_Common::xml_event_handler_t {
public:
    // With `keep` false, every node is read and checked but none is kept
    // below the top: what is read is only whether the document is a tree.
    explicit tree_reader_t(bool keep = true) : m_keep(keep) {}

    // The tree read, once the document was read to its end.
    bool take(zorvane_node_t& tree) {
        if (!m_done) return false;
        tree = std::move(m_result);
        return true;
    }
    // The reading stopped at a node nested deeper than kMaxTreeDepth.
    bool too_deep() const { return m_too_deep; }

    bool start_element(std::string_view name) override {
        if (m_skip > 0) {
            ++m_skip;
            return true;
        }
        if (m_frames.empty()) {
            m_frames.push_back({ROOT, 0});
            return true;
        }
        frame_t& parent = m_frames.back();
        switch (parent.kind) {
            case ROOT:
                // The first "node" of the root element is the top.
                if (!m_top_seen && name == "node") {
                    m_top_seen = true;
                    return open_node();
                }
                break;
            case CHILDREN:
                // Whatever their names, the elements of "children" are nodes.
                return open_node();
            case NODE: {
                pending_t& node = m_nodes[m_open_nodes - 1];
                const int which = element_index(name);
                if (which < 0 || node.seen[static_cast<std::size_t>(which)]) break;
                node.seen[static_cast<std::size_t>(which)] = true;
                m_frames.push_back({which == E::CHILDREN ? CHILDREN : FIELD, which});
                return true;
            }
            case FIELD:
                // An element with element children has no text.
                m_nodes[m_open_nodes - 1].text[static_cast<std::size_t>(parent.field)].clear();
                parent.kind = FIELD_WITHOUT_TEXT;
                break;
            case FIELD_WITHOUT_TEXT:
                break;
        }
        m_skip = 1;
        return true;
    }

    bool end_element() override {
        if (m_skip > 0) {
            --m_skip;
            return true;
        }
        if (m_frames.empty()) return true;
        const frame_kind_enum kind = m_frames.back().kind;
        m_frames.pop_back();
        if (kind == ROOT) {
            m_done = m_have_top;
            return true;
        }
        if (kind != NODE) return true;
        zorvane_node_t node(0, "");
        // A node refused refuses the whole document.
        if (!finish_node(m_nodes[m_open_nodes - 1], node)) return false;
        --m_open_nodes;
        if (m_open_nodes == 0) {
            m_result = std::move(node);
            m_have_top = true;
        } else {
            node.index = static_cast<std::int32_t>(m_finished.size() -
                                                   m_nodes[m_open_nodes - 1].first_child);
            if (m_keep) m_finished.push_back(std::move(node));
        }
        return true;
    }

    bool text(std::string_view utf8) override {
        if (m_skip == 0 && !m_frames.empty() && m_frames.back().kind == FIELD) {
            m_nodes[m_open_nodes - 1].text[static_cast<std::size_t>(m_frames.back().field)].append(
                utf8);
        }
        return true;
    }

private:
    using E = node_elements_t;
    enum frame_kind_enum { ROOT, NODE, FIELD, FIELD_WITHOUT_TEXT, CHILDREN };
    struct frame_t {
        frame_kind_enum kind;
        int field;
    };
    struct pending_t {
        std::size_t first_child = 0;  // where its children begin in m_finished
        std::array<std::string, E::COUNT> text;
        std::array<bool, E::COUNT> seen{};
    };

    static int element_index(std::string_view name) {
        static constexpr std::string_view kNames[E::COUNT] = {
            "guid", "type", "name",    "content", "description", "keyword",
            "tag",  "url",  "feedurl", "created", "modified",    "children"};
        for (int i = 0; i < E::COUNT; ++i) {
            if (name == kNames[i]) return i;
        }
        return -1;
    }

    // The state of a node element; one per level, used again by the next
    // node at that level (its texts keep their storage). A node deeper than
    // the trees of this system refuses the document.
    bool open_node() {
        if (m_open_nodes > kMaxTreeDepth) {
            m_too_deep = true;
            return false;
        }
        m_frames.push_back({NODE, 0});
        if (m_open_nodes == m_nodes.size()) m_nodes.emplace_back();
        pending_t& p = m_nodes[m_open_nodes++];
        p.first_child = m_finished.size();
        for (std::string& t : p.text) t.clear();
        p.seen.fill(false);
        return true;
    }

    // read_node() over the texts gathered, with the conversions of
    // xml_node_t's text helpers.
    bool finish_node(pending_t& p, zorvane_node_t& node) {
        auto present = [&](int which) { return p.seen[static_cast<std::size_t>(which)]; };
        auto text_of = [&](int which) -> const std::string& {
            return p.text[static_cast<std::size_t>(which)];
        };
        auto wide = [&](int which, std::u16string& out) {
            if (present(which)) out = Core_Platform::utf8_to_wide(text_of(which));
        };
        auto ansi = [&](int which, std::string& out) {
            if (present(which)) out = Core_Platform::utf8_to_ansi(text_of(which));
        };
        auto integer = [&](int which, std::int64_t& out) {
            if (!present(which)) return;
            m_scratch.text.assign(text_of(which));
            out = m_scratch.get_int64();
        };
        auto address = [&](int which) {
            if (!present(which)) return std::string();
            const std::string& text = text_of(which);
            // Plain ASCII: the text is its own wide form and its own stored
            // form.
            if (is_plain_address(text)) return text;
            return to_stored_form(Core_Platform::utf8_to_wide(text));
        };
        // The children, which ended one after another after it began, move
        // into a vector of their exact size.
        const auto first = m_finished.begin() + static_cast<std::ptrdiff_t>(p.first_child);
        node.children.reserve(static_cast<std::size_t>(m_finished.end() - first));
        std::move(first, m_finished.end(), std::back_inserter(node.children));
        m_finished.erase(first, m_finished.end());
        ansi(E::GUID, node.guid);
        if (node.guid.empty()) return false;
        std::string type;
        ansi(E::TYPE, type);
        node.type = type_from_name(type);
        if (node.type == NODE_NONE) return false;

        if (is_kernel_node(node)) {
            wide(E::NAME, node.title);
        } else if (node.type == NODE_NOTE) {
            wide(E::NAME, node.title);
            std::u16string content;
            wide(E::CONTENT, content);
            node.description = note_body(std::move(content));
        } else {
            if (node.type != NODE_SEPARATOR) {
                wide(E::NAME, node.title);
                if (node.title.empty()) return false;
                if (node.type != NODE_FOLDER) {
                    node.url = address(E::URL);
                    if (node.url.empty()) return false;
                }
                if (node.type == NODE_FEED) {
                    node.feed_url = address(E::FEEDURL);
                    if (node.feed_url.empty()) return false;
                }
            }
            wide(E::DESCRIPTION, node.description);
            wide(E::KEYWORD, node.keyword);
            wide(E::TAG, node.tag);
            integer(E::CREATED, node.created);
            integer(E::MODIFIED, node.modified);
        }
        return true;
    }

    std::vector<frame_t> m_frames;   // open elements outside skipped ones
    std::vector<pending_t> m_nodes;  // one per level of node elements
    std::size_t m_open_nodes = 0;    // open node elements, the innermost at m_open_nodes - 1
    std::vector<zorvane_node_t> m_finished;  // ended nodes whose parent is still open
    std::size_t m_skip = 0;                  // depth inside an element that does not count
    bool m_top_seen = false;
    bool m_have_top = false;
    bool m_done = false;
    const bool m_keep;
    bool m_too_deep = false;
    zorvane_node_t m_result{0, ""};
    xml_node_t m_scratch;  // the text conversions of xml_node_t
};

// About the length of the document of `tree`, so the output grows once
// rather than by doubling (tens of megabytes for a large tree).
std::size_t estimated_length(const zorvane_node_t& tree) {
    std::size_t length = 0;
    // (node, indentation level of its "node" element)
    std::vector<std::pair<const zorvane_node_t*, std::size_t>> pending{{&tree, 1}};
    while (!pending.empty()) {
        const auto [node, level] = pending.back();
        pending.pop_back();
        // The fixed elements, indented, with their tags and numbers.
        length += 250 + 26 * std::min<std::size_t>(level + 2, 30) + node->guid.size() +
                  node->title.size() + node->description.size() + node->keyword.size() +
                  node->tag.size() + node->url.size() + node->feed_url.size();
        for (const zorvane_node_t& child : node->children) pending.emplace_back(&child, level + 2);
    }
    return length;
}

// Reads `document` into a new `reader`. A document the stream leaves to
// the library's whole document (a run of text beyond 10 MB that came in
// pieces) is read by the stream all the same, again in pieces of a megabyte
// and taking runs of any length: the reader keeps its texts in strings of
// its own, so the library's limit on the texts of its document does not
// concern it, and no library document is built, however many elements the
// document holds that the tree does not use.
Core_Common::xml_stream_result_enum read_document(std::string_view document,
                                                  std::optional<tree_reader_t>& reader, bool keep) {
    reader.emplace(keep);
    const auto result = Core_Common::read_xml_events(document, *reader);
    if (result != Core_Common::XML_STREAM_NEEDS_TREE) return result;
    reader.emplace(keep);
    constexpr std::size_t kPiece = 1 << 20;
    Core_Common::xml_push_reader_t xml(*reader, true);
    for (std::size_t at = 0; at < document.size(); at += kPiece) {
        if (!xml.feed(document.substr(at, kPiece))) break;
    }
    const auto again = xml.finish();
    // Still left to the library: an entity reference other than the
    // predefined ones, which no acceptable document holds.
    return again == Core_Common::XML_STREAM_NEEDS_TREE ? Core_Common::XML_STREAM_MALFORMED : again;
}

}  // namespace

void write_tree(const zorvane_node_t& tree, std::string& out) {
    out.clear();
    out.reserve(estimated_length(tree));
    Core_Common::xml_writer_t w(out, true);
    w.open("nodeset");
    std::string scratch;
    stream_tree(w, tree, scratch);
    w.close();
}

void number_as_read(zorvane_node_t& tree) {
    tree.index = 0;
    std::vector<zorvane_node_t*> open{&tree};
    while (!open.empty()) {
        zorvane_node_t* node = open.back();
        open.pop_back();
        for (std::size_t i = 0; i < node->children.size(); ++i) {
            zorvane_node_t& child = node->children[i];
            child.index = static_cast<std::int32_t>(i);
            if (!child.children.empty()) open.push_back(&child);
        }
    }
}

std::size_t nodes_written(const zorvane_node_t& tree) {
    std::size_t count = 1;
    std::vector<const zorvane_node_t*> open{&tree};
    while (!open.empty()) {
        const zorvane_node_t* node = open.back();
        open.pop_back();
        count += node->children.size();
        for (const zorvane_node_t& child : node->children) {
            if (!child.children.empty()) open.push_back(&child);
        }
    }
    return count;
}

void write_tree(const zorvane_node_t& tree, const std::function<void(std::string_view)>& sink,
                std::size_t piece) {
    std::string out;
    out.reserve(piece + piece / 4 + 4096);
    piecewise_t pieces{out, sink, piece};
    Core_Common::xml_writer_t w(out, true);
    w.open("nodeset");
    std::string scratch;
    stream_tree(w, tree, scratch, &pieces);
    w.close();
    if (!out.empty()) sink(out);
}

struct tree_document_reader_t::state_t {
    tree_reader_t tree;
    Core_Common::xml_push_reader_t xml{tree, true};
};

tree_document_reader_t::tree_document_reader_t() : m_state(std::make_unique<state_t>()) {}
tree_document_reader_t::~tree_document_reader_t() = default;

bool tree_document_reader_t::feed(std::string_view piece) { return m_state->xml.feed(piece); }

bool tree_document_reader_t::finish(zorvane_node_t& tree) {
    tree = zorvane_node_t(0, "");
    switch (m_state->xml.finish()) {
        case Core_Common::XML_STREAM_READ:
            m_state->tree.take(tree);
            return true;
        case Core_Common::XML_STREAM_NEEDS_TREE:
            return false;
        case Core_Common::XML_STREAM_MALFORMED:
        case Core_Common::XML_STREAM_STOPPED:
            return true;
    }
    return true;
}

bool is_tree_document(std::string_view document) {
    std::optional<tree_reader_t> reader;
    zorvane_node_t top(0, "");
    return read_document(document, reader, false) == Core_Common::XML_STREAM_READ &&
           reader->take(top) && top.type != NODE_NONE;
}

namespace {

// A text that the document carries as it is: valid UTF-16 (surrogates in
// pairs) without control characters, which the writer would escape or
// replace and the parser would normalise (line ends), and without the two
// non-characters.
bool carried_as_is(std::u16string_view text) {
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char16_t c = text[i];
        if (c < 0x20 || c == 0xFFFE || c == 0xFFFF) return false;
        if (c >= 0xDC00 && c <= 0xDFFF) return false;
        if (c >= 0xD800 && c <= 0xDBFF) {
            if (i + 1 == text.size() || text[i + 1] < 0xDC00 || text[i + 1] > 0xDFFF) return false;
            ++i;
        }
    }
    return true;
}

// An identifier of printable ASCII without blanks: the same in the ANSI code
// page and in UTF-8.
bool plain_identifier(std::string_view guid) {
    if (guid.empty()) return false;
    return std::all_of(guid.begin(), guid.end(), [](char c) { return c > 0x20 && c < 0x7F; });
}

// An address element's text, read as the reader reads it, is `stored`.
bool address_reads_back(const std::string& stored) {
    if (stored.empty()) return false;
    if (is_plain_address(stored)) return true;
    const std::u16string display = to_display_form(stored);
    if (!carried_as_is(display)) return false;
    const std::string text = Core_Platform::wide_to_utf8(display);
    return (is_plain_address(text) ? text : to_stored_form(display)) == stored;
}

bool node_reads_back(const zorvane_node_t& node, std::size_t depth) {
    // The reader refuses nodes deeper than the bound; those near it are left
    // to the reader.
    if (depth + 1 >= kMaxTreeDepth) return false;
    if (!plain_identifier(node.guid) || node.type == NODE_NONE ||
        type_from_name(type_name(node.type)) != node.type || !carried_as_is(node.title)) {
        return false;
    }
    const bool kernel = is_kernel_node(node);
    const bool note = !kernel && node.type == NODE_NOTE;
    if (kernel || note) {
        // Only the name (and a note's body) is read.
        if (!node.keyword.empty() || !node.tag.empty() || !node.url.empty() ||
            !node.feed_url.empty() || node.created != 0 || node.modified != 0) {
            return false;
        }
        if (kernel && !node.description.empty()) return false;
        // A note's body loses trailing blanks.
        if (note && (!carried_as_is(node.description) ||
                     (!node.description.empty() && node.description.back() == u' '))) {
            return false;
        }
    } else {
        if (!carried_as_is(node.description) || !carried_as_is(node.keyword) ||
            !carried_as_is(node.tag)) {
            return false;
        }
        const bool separator = node.type == NODE_SEPARATOR;
        const bool folder = node.type == NODE_FOLDER;
        const bool feed = node.type == NODE_FEED;
        // A separator's name and addresses are not read; a folder's
        // addresses are not; only a feed's feed address is.
        if (separator ? !node.title.empty() : node.title.empty()) return false;
        if (separator || folder ? !node.url.empty() : !address_reads_back(node.url)) return false;
        if (feed ? !address_reads_back(node.feed_url) : !node.feed_url.empty()) return false;
    }
    for (std::size_t i = 0; i < node.children.size(); ++i) {
        const zorvane_node_t& child = node.children[i];
        if (child.index != static_cast<std::int32_t>(i) || !node_reads_back(child, depth + 1)) {
            return false;
        }
    }
    return true;
}

}  // namespace

bool reads_back_as_itself(const zorvane_node_t& tree) {
    return tree.index == 0 && node_reads_back(tree, 0);
}

void read_tree(std::string_view document, zorvane_node_t& tree) {
    std::string why;
    read_tree(document, tree, why);
}

void read_tree(std::string_view document, zorvane_node_t& tree, std::string& why) {
    tree = zorvane_node_t(0, "");
    why.clear();
    static constexpr const char* kIncomplete = "a node is incomplete or of an unknown type";
    std::optional<tree_reader_t> reader;
    switch (read_document(document, reader, true)) {
        case Core_Common::XML_STREAM_READ:
            if (!reader->take(tree)) why = "no node under the root element";
            return;
        case Core_Common::XML_STREAM_NEEDS_TREE:
        case Core_Common::XML_STREAM_MALFORMED:
            why = "not well-formed XML, or a document type declaration";
            return;
        case Core_Common::XML_STREAM_STOPPED:
            why = reader->too_deep()
                      ? "nodes nested deeper than " + std::to_string(kMaxTreeDepth) + " levels"
                      : kIncomplete;
            return;
    }
}

void write_tree_with_nodes(const zorvane_node_t& tree, std::string& out) {
    xml_node_t document;
    document.name = u"nodeset";
    write_node(document, tree);
    out.clear();
    document.serialize(out, true);
}

void read_tree_with_nodes(std::string_view document, zorvane_node_t& tree) {
    tree = zorvane_node_t(0, "");
    xml_node_t root;
    if (!root.parse(document)) return;
    const xml_node_t* top = root.find_child(u"node");
    if (top == nullptr) return;
    zorvane_node_t result(0, "");
    if (read_node(*top, result, 0)) tree = std::move(result);
}

}  // namespace Core_ZorvaneMerge
