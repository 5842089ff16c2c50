#include "common/xml_stream.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "common/xml_node.h"
#include "platform/strings.h"

namespace Core_Common {
namespace {

// ---- Reading: the events rebuild what xml_node_t::parse keeps ----

// Builds an xml_node_t from the events by the rules of parse(): an element
// with element children has no text; otherwise its text is all its pieces.
class node_builder final : public xml_event_handler_t {
public:
    explicit node_builder(xml_node_t& root) : m_root(root) {}
    bool start_element(std::string_view name) override {
        xml_node_t* node;
        if (m_open.empty()) {
            m_root.clear();
            node = &m_root;
        } else {
            m_open.back().node->text.clear();
            m_open.back().has_element = true;
            node = &m_open.back().node->add_child(u"");
        }
        node->name = Core_Platform::utf8_to_wide(name);
        m_open.push_back({node, false});
        return true;
    }
    bool end_element() override {
        m_open.pop_back();
        return true;
    }
    bool text(std::string_view utf8) override {
        if (!m_open.back().has_element) m_open.back().node->text.append(utf8);
        return true;
    }

private:
    struct open_t {
        xml_node_t* node;
        bool has_element;
    };
    xml_node_t& m_root;
    std::vector<open_t> m_open;
};

void expect_same(const xml_node_t& a, const xml_node_t& b, const std::string& where) {
    ASSERT_EQ(Core_Platform::wide_to_utf8(a.name), Core_Platform::wide_to_utf8(b.name)) << where;
    ASSERT_EQ(a.text, b.text) << where << "/" << Core_Platform::wide_to_utf8(a.name);
    ASSERT_EQ(a.children.size(), b.children.size()) << where;
    for (std::size_t i = 0; i < a.children.size(); ++i)
        expect_same(*a.children[i], *b.children[i],
                    where + "/" + Core_Platform::wide_to_utf8(a.name));
}

// `document` read by the push reader in pieces of `piece` bytes.
xml_stream_result_enum push_events(const std::string& document, std::size_t piece,
                                   xml_event_handler_t& handler) {
    xml_push_reader_t reader(handler);
    for (std::size_t at = 0; at < document.size(); at += piece) {
        if (!reader.feed(std::string_view(document).substr(at, piece))) break;
    }
    return reader.finish();
}

// The stream and parse() agree on `document`: both refuse it, or the
// events give parse()'s elements. Below the size where text runs come in
// pieces either way, the push reader agrees too, however the document is
// cut.
void expect_agree(const std::string& document) {
    xml_node_t parsed;
    const bool accepted = parsed.parse(document);
    xml_node_t built;
    node_builder builder(built);
    const xml_stream_result_enum result = read_xml_events(document, builder);
    ASSERT_EQ(result == XML_STREAM_READ, accepted)
        << "result " << result << " for " << document.substr(0, 300);
    if (accepted) expect_same(parsed, built, document.substr(0, 120));
    if (document.size() >= 10'000'000) return;
    for (std::size_t piece : {std::size_t{1}, std::size_t{5}, std::size_t{4096}}) {
        if (piece < 4096 && document.size() > 65536) continue;  // time
        xml_node_t pushed;
        node_builder push_builder(pushed);
        ASSERT_EQ(push_events(document, piece, push_builder), result)
            << "pieces of " << piece << " for " << document.substr(0, 300);
        if (accepted) expect_same(parsed, pushed, document.substr(0, 120));
    }
}

TEST(XmlStream, ReportsWhatParseKeeps) {
    const char* documents[] = {
        "<r/>",
        "<?xml version=\"1.0\"?>\n<r>  <a>x</a>  </r>",
        "<r><a> x </a><b/><c></c></r>",
        "<r><a>1<b/>2</a></r>",
        "<r><a>x<!-- c -->y<?pi data?>z</a></r>",
        "<r><a>p<![CDATA[<q>&]]>s</a><b><![CDATA[]]></b></r>",
        "<r><a>&lt;&amp;&gt;&quot;&apos;&#65;&#x263A;&#x1F600;</a></r>",
        "<r xmlns:p=\"urn:x\"><p:a>1</p:a><q:b>2</q:b><c xmlns=\"urn:y\">3</c></r>",
        "<r><a attr=\"v\" b='w'>t</a></r>",
        "<r>\r\n<a>line\r\nbreak\rcr</a>\n</r>",
        "<r><a>caf\xc3\xa9 \xe6\x97\xa5\xe6\x9c\xac</a></r>",
        "<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?><r><a>caf\xe9</a></r>",
        "<!-- before --><r><a>x</a></r><!-- after --><?pi?>",
        // Malformed ones.
        "",
        "not xml",
        "<r>",
        "<r></s>",
        "<r><a>x</a></r><r/>",
        "<r><a>&undefined;</a></r>",
        "<r><a>&#1;</a></r>",
        "<r><a>\x01</a></r>",
        "<r><a>caf\xe9</a></r>",
        "<r a=\"1\" a=\"2\"/>",
        "<r><a>x</a></r>trailing",
    };
    for (const char* d : documents) expect_agree(d);
}

TEST(XmlStream, RefusesDocumentTypesAsTheTreeDoes) {
    xml_node_t built;
    node_builder builder(built);
    for (const char* d : {"<!DOCTYPE r [<!ENTITY e \"replaced\">]><r><a>&e;</a></r>",
                          "<!DOCTYPE r><r/>", "<r>&e;</r>"}) {
        expect_agree(d);
        EXPECT_EQ(read_xml_events(d, builder), XML_STREAM_MALFORMED) << d;
    }
}

// XML has no NUL character. The library reading from memory takes one for
// the end of its input, so a document followed by a NUL and anything at all
// read as well formed there while the reader in pieces refused it.
TEST(XmlStream, RefusesNulCharactersWhereverTheyStand) {
    using namespace std::string_literals;
    for (const std::string& d : {"<r/>\0"s, "<r>a</r>\0\0a0\0=e\0"s, "<r>a\0b</r>"s, "\0<r/>"s,
                                 "<?xml version=\"1.0\"?><r/>\n\0"s}) {
        expect_agree(d);
        xml_node_t parsed;
        EXPECT_FALSE(parsed.parse(d)) << d.size();
    }
    // A document in UTF-16 (NUL bytes in every unit) still reads, whole and
    // in pieces; with a NUL character after it, it does not.
    std::string utf16 = "\xff\xfe";
    for (char c : std::string("<r><a>x</a></r>")) utf16 += {c, '\0'};
    expect_agree(utf16);
    xml_node_t parsed;
    ASSERT_TRUE(parsed.parse(utf16));
    EXPECT_EQ(parsed.find_child(u"a")->text, "x");
    expect_agree(utf16 + "\0\0"s);
    EXPECT_FALSE(parsed.parse(utf16 + "\0\0"s));
}

TEST(XmlStream, StopsWhenTheHandlerSaysSo) {
    struct stopper final : xml_event_handler_t {
        int starts = 0;
        bool start_element(std::string_view) override { return ++starts < 2; }
        bool end_element() override { return true; }
        bool text(std::string_view) override { return true; }
    } s;
    EXPECT_EQ(read_xml_events("<r><a/><b/><c/></r>", s), XML_STREAM_STOPPED);
    EXPECT_EQ(s.starts, 2);
}

TEST(XmlStream, NestingLimitAsParse) {
    for (int depth : {200, 256, 257, 258, 300}) {
        std::string d;
        for (int i = 0; i < depth; ++i) d += "<a>";
        d += "x";
        for (int i = 0; i < depth; ++i) d += "</a>";
        SCOPED_TRACE(depth);
        expect_agree(d);
    }
}

TEST(XmlStream, LeavesHugeTextsToTheTree) {
    // Beyond 10,000,000 bytes of text in one run, made of several pieces,
    // the library's document has limits of its own: parse() decides.
    const std::string ascii(10'000'001, 'x');
    const std::string half(5'100'000, 'y');
    std::string accented;
    while (accented.size() < 10'200'000) accented += "caf\xc3\xa9 ";
    const std::string deferred[] = {
        "<r><a>" + ascii + "&amp;</a></r>",
        "<r><a>&amp;" + ascii + "</a></r>",
        "<r><a>" + half + "&amp;" + half + "</a></r>",
        "<r><a>" + half + "<!---->" + half + "</a></r>",
        "<r><a>" + half + "<![CDATA[" + half + "]]></a></r>",
        "<r><a>" + accented + "</a></r>",
        "<r>" + ascii + "\r\n<a/></r>",
    };
    for (const std::string& d : deferred) {
        xml_node_t built;
        node_builder builder(built);
        EXPECT_EQ(read_xml_events(d, builder), XML_STREAM_NEEDS_TREE) << d.size();
    }
    // In pieces, every run beyond the limit is left to the tree; shorter
    // ones are read.
    for (const std::string& d : {"<r><a>" + ascii + "</a></r>", "<r><a>" + half + "</a></r>"}) {
        xml_node_t pushed;
        node_builder builder(pushed);
        EXPECT_EQ(push_events(d, 1 << 20, builder),
                  d.size() > 10'000'000 ? XML_STREAM_NEEDS_TREE : XML_STREAM_READ);
    }
    // Up to the limit, the stream reads what parse() reads.
    const std::string taken[] = {
        // Plain ASCII comes in one piece, and one piece is always taken.
        "<r><a>" + ascii + "</a></r>",
        "<r><!-- c -->" + ascii + ascii + "<a/></r>",
        "<r><a>" + std::string(10'000'000, 'x') + "</a></r>",
        "<r><a>" + half + "</a><b>" + half + "</b>" + half + "</r>",
        "<r><a>" + accented.substr(0, 9'000'000) + "&amp;" + half.substr(0, 900'000) + "</a></r>",
        "<r><a><![CDATA[" + half + "]]>" + half.substr(0, 4'000'000) + "</a></r>",
    };
    for (const std::string& d : taken) {
        SCOPED_TRACE(d.size());
        expect_agree(d);
    }
}

// Random documents: elements, text with every kind of piece, comments, and
// a share of damaged copies.
class document_maker {
public:
    explicit document_maker(std::uint64_t seed) : m_rng(seed) {}
    std::string make() {
        std::string d = pick(3) == 0 ? "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n" : "";
        element(d, 0);
        if (pick(10) == 0) {
            // Damage: cut, or change a byte.
            const std::size_t at = pick(d.size());
            if (pick(2) == 0) {
                d.resize(at);
            } else {
                d[at] = "<>&/ \"x\x01"[pick(8)];
            }
        }
        return d;
    }

private:
    std::size_t pick(std::size_t n) {
        return n == 0 ? 0 : std::uniform_int_distribution<std::size_t>(0, n - 1)(m_rng);
    }
    void text(std::string& d) {
        static const char* pieces[] = {"a",          " ",       "\n  ",     "&amp;",
                                       "&lt;x&gt;",  "&#233;",  "\xc3\xa9", "<![CDATA[c<d]]>",
                                       "<!-- k -->", "<?p q?>", "\r\n",     "\xf0\x9f\x98\x80",
                                       "&#x10FFFF;"};
        const std::size_t n = pick(4);
        for (std::size_t i = 0; i < n; ++i) d += pieces[pick(std::size(pieces))];
    }
    void element(std::string& d, int depth) {
        static const char* names[] = {"node", "guid", "a", "children", "p:x", "b"};
        const std::string name = names[pick(std::size(names))];
        d += "<" + name + (name == "p:x" && pick(2) ? " xmlns:p=\"urn:p\"" : "") + ">";
        const std::size_t children = depth < 5 ? pick(5) : 0;
        text(d);
        for (std::size_t i = 0; i < children; ++i) {
            element(d, depth + 1);
            if (pick(2)) text(d);
        }
        d += "</" + name + ">";
    }
    std::mt19937_64 m_rng;
};

TEST(XmlStream, RandomDocumentsAsParse) {
    document_maker maker(20240611);
    int accepted = 0, refused = 0;
    for (int i = 0; i < 3000; ++i) {
        const std::string d = maker.make();
        SCOPED_TRACE(i);
        expect_agree(d);
        if (HasFatalFailure()) return;
        xml_node_t parsed;
        (parsed.parse(d) ? accepted : refused)++;
    }
    // Both kinds came up.
    EXPECT_GT(accepted, 500);
    EXPECT_GT(refused, 100);
}

// ---- Writing: the bytes of serialize() ----

void expect_same_bytes(const xml_node_t& root) {
    for (bool formatted : {true, false}) {
        std::string expected;
        root.serialize(expected, formatted);
        std::string written = "stale";
        xml_writer_t w(written, formatted);
        struct walk {
            static void node(xml_writer_t& w, const xml_node_t& n) {
                const std::string name = Core_Platform::wide_to_utf8(n.name);
                if (n.children.empty() && !n.text.empty()) {
                    w.leaf(name, n.text);
                    return;
                }
                w.open(name);
                for (const xml_node_t* c : n.children) node(w, *c);
                w.close();
            }
        };
        walk::node(w, root);
        ASSERT_EQ(written, expected) << "formatted " << formatted;
    }
}

TEST(XmlWriter, BytesOfSerialize) {
    xml_node_t root;
    root.name = u"r";
    expect_same_bytes(root);  // an empty root
    root.add_child(u"c");
    expect_same_bytes(root);  // an empty child
    root.add_child(u"t").text = "x<y&z>\r\n\t\x01\"'caf\xc3\xa9 \xf0\x9f\x98\x80 ]]>";
    xml_node_t& mid = root.add_child(u"mid");
    mid.add_child(u"leaf").text = " ";
    mid.add_child(u"empty");
    mid.add_child(u"inner").add_child(u"deep").text = "d";
    expect_same_bytes(root);
    // Texts end at a NUL.
    root.add_child(u"nul").text = std::string("a\0b", 3);
    root.add_child(u"nul_first").text = std::string("\0b", 2);
    expect_same_bytes(root);
}

TEST(XmlWriter, IndentationStopsGrowingAsSerializes) {
    xml_node_t root;
    root.name = u"r";
    xml_node_t* at = &root;
    for (int i = 0; i < 40; ++i) {
        at->add_child(u"leaf").text = std::to_string(i);
        at = &at->add_child(u"c");
    }
    at->text = "bottom";
    expect_same_bytes(root);
}

TEST(XmlWriter, RandomTreesAsSerialize) {
    std::mt19937_64 rng(7);
    auto pick = [&](std::size_t n) {
        return std::uniform_int_distribution<std::size_t>(0, n - 1)(rng);
    };
    static const char* texts[] = {
        "", "x", "a&b", "<tag>", "\r", "line\nline", " ", "\xc3\xa9t\xc3\xa9", "\x7f", "]]>"};
    for (int round = 0; round < 200; ++round) {
        xml_node_t root;
        root.name = u"doc";
        std::vector<xml_node_t*> containers{&root};
        const std::size_t count = 1 + pick(60);
        for (std::size_t i = 0; i < count; ++i) {
            xml_node_t* parent = containers[pick(containers.size())];
            if (pick(3) == 0) {
                containers.push_back(&parent->add_child(u"box"));
            } else {
                parent->add_child(u"item").text = texts[pick(std::size(texts))];
            }
        }
        expect_same_bytes(root);
        if (HasFatalFailure()) return;
    }
}

}  // namespace
}  // namespace Core_Common
