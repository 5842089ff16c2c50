// Public engine surface: XML documents read as a stream of events and written
// straight into bytes, without a tree of xml_node_t in memory.
//
// A bookmark tree of tens of thousands of bookmarks makes a document of tens
// of megabytes and about a dozen elements per bookmark; as xml_node_t trees
// (and the library's own document behind them) such documents take several
// times their size in memory and most of the time of a sync. The two pieces
// here give the same results as xml_node_t for such documents:
//
//   - read_xml_events() reports the elements and character content that
//     xml_node_t::parse() would keep, in document order, and accepts and
//     rejects exactly the documents parse() accepts and rejects (a document
//     type declaration included). One kind of document is left to parse()
//     (the result says so): those with more than 10,000,000 bytes of
//     character content in one run between child elements, handed over in
//     several pieces, where the library's document has limits of its own.
//   - xml_writer_t writes, element by element, the bytes that
//     xml_node_t::serialize() gives for the same elements, formatted or not.
//
// The XML library stays hidden here as it does behind xml_node.h.
//
// Thread rule: re-entrant; each call and each writer is used by one thread.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace Core_Common {

// What read_xml_events() reports. Each function returns false to end the
// reading early (the result is then XML_STREAM_STOPPED).
class xml_event_handler_t {
public:
    virtual ~xml_event_handler_t() = default;
    // An element starts. `name` is the element's name as xml_node_t::parse
    // gives it (UTF-8): the local name, or prefix:name when the prefix is not
    // declared.
    virtual bool start_element(std::string_view name) = 0;
    // The innermost open element ends.
    virtual bool end_element() = 0;
    // A piece of the character content of the innermost open element (text,
    // a CDATA section, the replacement of a character reference or of one of
    // the predefined entities), unescaped UTF-8. Consecutive pieces belong
    // together; an element's content may come in any number of pieces, and
    // whitespace between child elements comes too.
    virtual bool text(std::string_view utf8) = 0;
};

enum xml_stream_result_enum {
    XML_STREAM_READ = 0,    // the whole document was reported
    XML_STREAM_MALFORMED,   // parse() would return false; events so far are void
    XML_STREAM_STOPPED,     // a handler function returned false
    XML_STREAM_NEEDS_TREE,  // a huge text: read it with parse()
};

// Reads `document` (its own declared encoding, UTF-8 by default) and reports
// its elements to `handler`. An empty document, or one longer than the
// library accepts (2 GiB), is malformed.
xml_stream_result_enum read_xml_events(std::string_view document, xml_event_handler_t& handler);

// The same reading for a document that comes in pieces (inflated, decoded or
// converted a megabyte at a time), so that it is never whole in memory:
//
//   xml_push_reader_t reader(handler);
//   while (more) if (!reader.feed(piece)) break;  // false: the reading ended
//   result = reader.finish();
//
// The events and the result are those read_xml_events gives for the pieces
// put together, with one difference: a run of character content longer than
// 10,000,000 bytes arrives in several pieces however it is written, so it
// always gives XML_STREAM_NEEDS_TREE (as a document type declaration does);
// the caller then reads the whole document with read_xml_events or parse().
// A reader is used once, by one thread. With `long_texts` set, runs of text
// of any length are reported in their pieces and never give
// XML_STREAM_NEEDS_TREE for their length: for callers that never keep such a
// run as one text (a Base64 document they decode as it comes).
class xml_push_reader_t {
public:
    explicit xml_push_reader_t(xml_event_handler_t& handler, bool long_texts = false);
    ~xml_push_reader_t();
    xml_push_reader_t(const xml_push_reader_t&) = delete;
    xml_push_reader_t& operator=(const xml_push_reader_t&) = delete;

    // Reads the next piece. False once the reading has ended early (the
    // document is malformed, the handler stopped it, or it needs the tree);
    // later pieces are then ignored and finish() says why.
    bool feed(std::string_view piece);
    // Ends the document and gives the result.
    xml_stream_result_enum finish();

private:
    static constexpr std::size_t kEncodingBytes = 4;
    struct state_t;
    // Makes the library's context from the document's first bytes.
    bool start(std::string_view head);
    // False (and the reader ended) when the library stopped or the document
    // is no longer well formed.
    bool went_on(int result);
    state_t* m_state;
};

// Writes a document element by element. Element names are UTF-8; text is
// UTF-8, escaped as serialize() escapes it ("&", "<", ">" and carriage
// return) and, as there, cut at its first NUL. Only elements that hold either text or child
// elements are written (all this engine's documents are of that kind).
//
//   xml_writer_t w(out, true);  // `out` is emptied; the declaration
//   w.open("nodeset");          // an element with child elements
//   w.leaf("guid", "ROOT");     // an element holding text (empty: <guid/>)
//   w.close();                  // ends the innermost open element
//
// A root element written with leaf() is written empty: serialize() leaves
// out the root's own text.
// After the root element is closed, `out` holds what serialize(out,
// formatted) gives for the same tree; an element opened and closed without
// children is written empty, as serialize() writes it.
class xml_writer_t {
public:
    xml_writer_t(std::string& out, bool formatted);
    xml_writer_t(const xml_writer_t&) = delete;
    xml_writer_t& operator=(const xml_writer_t&) = delete;

    void open(std::string_view name);
    void leaf(std::string_view name, std::string_view text);
    void close();

private:
    void begin_child();
    void indent(std::size_t level);

    std::string& m_out;
    bool m_formatted;
    bool m_start_open = false;        // the innermost start tag still lacks its ">"
    std::vector<std::string> m_open;  // names of the open elements, outermost first
};

// Appends `utf8` to `out` escaped as element content is escaped on output.
void append_escaped_xml_text(std::string& out, std::string_view utf8);

}  // namespace Core_Common
