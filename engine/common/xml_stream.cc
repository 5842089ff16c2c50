#include "common/xml_stream.h"

#include <libxml/SAX2.h>
#include <libxml/parser.h>
#include <libxml/parserInternals.h>
#include <libxml/tree.h>

#include <algorithm>
#include <climits>
#include <memory>

#include "common/xml_library.h"

namespace Core_Common {
namespace {

// The library's document takes the first piece of a text node whatever its
// length, but refuses to grow a node beyond this many bytes by further
// pieces; how the parser cuts text into pieces (plain ASCII comes whole,
// other characters in short pieces, entities and CDATA sections apart)
// does not show from outside. A run of character content between two
// child elements that is that long and came in several pieces is left to
// xml_node_t::parse(); shorter runs, and runs of one piece, cannot make a
// node the library refuses.
constexpr std::size_t kMaxTextRunBytes = XML_MAX_TEXT_LENGTH;

struct stream_state_t {
    xml_event_handler_t* handler = nullptr;
    xmlParserCtxtPtr context = nullptr;
    xml_stream_result_enum outcome = XML_STREAM_READ;
    std::size_t depth = 0;        // open elements
    std::size_t text_run = 0;     // bytes of character content since the last element start or end
    bool several_pieces = false;  // that content came in more than one piece
    // The document comes in pieces: how the library cut a run of text is no
    // guide to how it would cut it in the whole document.
    bool pieces_only = false;
    bool long_texts = false;  // runs of any length are taken in pieces
    std::string name;         // scratch for prefix:name
};

stream_state_t& state_of(void* context) {
    return *static_cast<stream_state_t*>(static_cast<xmlParserCtxtPtr>(context)->_private);
}

void end_with(stream_state_t& s, xml_stream_result_enum outcome) {
    if (s.outcome == XML_STREAM_READ) s.outcome = outcome;
    xmlStopParser(s.context);
}

void on_start_element(void* context, const xmlChar* local_name, const xmlChar* prefix,
                      const xmlChar* uri, int, const xmlChar**, int, int, const xmlChar**) {
    stream_state_t& s = state_of(context);
    if (s.outcome != XML_STREAM_READ) return;
    ++s.depth;
    // Reading a whole document, the library refuses elements nested more
    // than xmlParserMaxDepth levels below the root; reading pieces, it does
    // not check.
    if (s.pieces_only && s.depth > xmlParserMaxDepth + 1) return end_with(s, XML_STREAM_MALFORMED);
    s.text_run = 0;
    s.several_pieces = false;
    std::string_view name(reinterpret_cast<const char*>(local_name));
    if (prefix != nullptr && uri == nullptr) {
        // An undeclared prefix stays part of the name.
        s.name.assign(reinterpret_cast<const char*>(prefix));
        s.name += ':';
        s.name += name;
        name = s.name;
    }
    if (!s.handler->start_element(name)) end_with(s, XML_STREAM_STOPPED);
}

void on_end_element(void* context, const xmlChar*, const xmlChar*, const xmlChar*) {
    stream_state_t& s = state_of(context);
    if (s.outcome != XML_STREAM_READ) return;
    if (s.depth > 0) --s.depth;
    s.text_run = 0;
    s.several_pieces = false;
    if (!s.handler->end_element()) end_with(s, XML_STREAM_STOPPED);
}

// Text and CDATA sections alike.
void on_characters(void* context, const xmlChar* text, int length) {
    stream_state_t& s = state_of(context);
    if (s.outcome != XML_STREAM_READ || s.depth == 0) return;
    const auto size = static_cast<std::size_t>(length);
    if (s.text_run > 0) s.several_pieces = true;
    s.text_run += size;
    if (s.text_run > kMaxTextRunBytes && (s.several_pieces || s.pieces_only) && !s.long_texts)
        return end_with(s, XML_STREAM_NEEDS_TREE);
    if (!s.handler->text(std::string_view(reinterpret_cast<const char*>(text), size)))
        end_with(s, XML_STREAM_STOPPED);
}

// Comments and processing instructions carry nothing.
void on_comment(void*, const xmlChar*) {}
void on_processing_instruction(void*, const xmlChar*, const xmlChar*) {}

// No document of this system has a document type declaration; parse()
// refuses one too.
void on_internal_subset(void* context, const xmlChar*, const xmlChar*, const xmlChar*) {
    end_with(state_of(context), XML_STREAM_MALFORMED);
}

void on_reference(void* context, const xmlChar*) {
    end_with(state_of(context), XML_STREAM_NEEDS_TREE);
}

void ignore_error(void*, xmlErrorPtr) {}

void use_stream_callbacks(xmlParserCtxtPtr context, stream_state_t& state) {
    state.context = context;
    context->_private = &state;
    xmlSAXHandler* sax = context->sax;
    sax->startElementNs = &on_start_element;
    sax->endElementNs = &on_end_element;
    sax->characters = &on_characters;
    // The same function for both keeps whitespace reported as text.
    sax->ignorableWhitespace = &on_characters;
    sax->cdataBlock = &on_characters;
    sax->comment = &on_comment;
    sax->processingInstruction = &on_processing_instruction;
    sax->internalSubset = &on_internal_subset;
    sax->reference = &on_reference;
    sax->serror = &ignore_error;
    // No document of this system refers to anything outside it.
    xmlCtxtUseOptions(context, XML_PARSE_NONET);
}

xml_stream_result_enum outcome_of(const stream_state_t& state, xmlParserCtxtPtr context) {
    if (state.outcome != XML_STREAM_READ) return state.outcome;
    return context->wellFormed ? XML_STREAM_READ : XML_STREAM_MALFORMED;
}

}  // namespace

xml_stream_result_enum read_xml_events(std::string_view document, xml_event_handler_t& handler) {
    if (document.empty() || document.size() > static_cast<std::size_t>(INT_MAX))
        return XML_STREAM_MALFORMED;
    xml_library::init();
    xml_library::quiet_errors quiet;
    // The context xmlReadMemory() makes, with the element and text callbacks
    // reporting instead of building a document.
    std::unique_ptr<xmlParserCtxt, xml_library::context_free> context(
        xmlCreateMemoryParserCtxt(document.data(), static_cast<int>(document.size())));
    if (!context) return XML_STREAM_MALFORMED;
    stream_state_t state;
    state.handler = &handler;
    use_stream_callbacks(context.get(), state);
    xmlParseDocument(context.get());
    return outcome_of(state, context.get());
}

struct xml_push_reader_t::state_t {
    stream_state_t stream;
    std::unique_ptr<xmlParserCtxt, xml_library::context_free> context;
    std::size_t fed = 0;
    bool ended = false;  // malformed, stopped or needs the tree
    bool too_long = false;
};

xml_push_reader_t::xml_push_reader_t(xml_event_handler_t& handler, bool long_texts)
    : m_state(new state_t) {
    m_state->stream.handler = &handler;
    m_state->stream.pieces_only = true;
    m_state->stream.long_texts = long_texts;
}

xml_push_reader_t::~xml_push_reader_t() { delete m_state; }

bool xml_push_reader_t::feed(std::string_view piece) {
    state_t& s = *m_state;
    if (s.ended) return false;
    if (piece.empty()) return true;
    if (piece.size() > static_cast<std::size_t>(INT_MAX) - s.fed) {
        s.too_long = true;
        s.ended = true;
        return false;
    }
    s.fed += piece.size();
    xml_library::quiet_errors quiet;
    int result;
    if (!s.context) {
        xml_library::init();
        // The library looks at the first bytes for the encoding; it takes
        // the rest through xmlParseChunk.
        const int first = static_cast<int>(std::min<std::size_t>(piece.size(), 4));
        s.context.reset(xmlCreatePushParserCtxt(nullptr, nullptr, piece.data(), first, nullptr));
        if (!s.context) {
            s.stream.outcome = XML_STREAM_MALFORMED;
            s.ended = true;
            return false;
        }
        use_stream_callbacks(s.context.get(), s.stream);
        result = xmlParseChunk(s.context.get(), piece.data() + first,
                               static_cast<int>(piece.size()) - first, 0);
    } else {
        result = xmlParseChunk(s.context.get(), piece.data(), static_cast<int>(piece.size()), 0);
    }
    if (result != 0 || s.stream.outcome != XML_STREAM_READ || !s.context->wellFormed) {
        s.ended = true;
        return false;
    }
    return true;
}

xml_stream_result_enum xml_push_reader_t::finish() {
    state_t& s = *m_state;
    if (s.too_long || !s.context) return XML_STREAM_MALFORMED;
    if (!s.ended) {
        xml_library::quiet_errors quiet;
        xmlParseChunk(s.context.get(), nullptr, 0, 1);
        s.ended = true;
    }
    return outcome_of(s.stream, s.context.get());
}

// ---- Writing ----

void append_escaped_xml_text(std::string& out, std::string_view utf8) {
    std::size_t plain = 0;
    for (std::size_t i = 0; i < utf8.size(); ++i) {
        const char* entity;
        switch (utf8[i]) {
            case '<':
                entity = "&lt;";
                break;
            case '>':
                entity = "&gt;";
                break;
            case '&':
                entity = "&amp;";
                break;
            case '\r':
                entity = "&#13;";
                break;
            default:
                continue;
        }
        out.append(utf8.data() + plain, i - plain);
        out.append(entity);
        plain = i + 1;
    }
    out.append(utf8.data() + plain, utf8.size() - plain);
}

xml_writer_t::xml_writer_t(std::string& out, bool formatted) : m_out(out), m_formatted(formatted) {
    m_out.clear();
    m_out.append("<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>\n");
}

// The library indents by two spaces per level, up to 30 levels.
void xml_writer_t::indent(std::size_t level) {
    if (m_formatted) m_out.append(2 * std::min<std::size_t>(level, 30), ' ');
}

void xml_writer_t::begin_child() {
    if (m_start_open) {
        m_out.push_back('>');
        if (m_formatted) m_out.push_back('\n');
        m_start_open = false;
    }
    indent(m_open.size());
}

void xml_writer_t::open(std::string_view name) {
    begin_child();
    m_out.push_back('<');
    m_out.append(name);
    m_open.emplace_back(name);
    m_start_open = true;
}

void xml_writer_t::leaf(std::string_view name, std::string_view text) {
    // A root element's own text is not written.
    if (m_open.empty()) text = std::string_view();
    begin_child();
    m_out.push_back('<');
    m_out.append(name);
    if (text.empty()) {
        m_out.append("/>");
    } else {
        // The library takes text as a C string: it ends at a NUL, and a
        // text that begins with one still makes a (now empty) text node.
        text = text.substr(0, text.find('\0'));
        m_out.push_back('>');
        append_escaped_xml_text(m_out, text);
        m_out.append("</");
        m_out.append(name);
        m_out.push_back('>');
    }
    if (m_formatted || m_open.empty()) m_out.push_back('\n');
}

void xml_writer_t::close() {
    if (m_open.empty()) return;
    const std::string name = std::move(m_open.back());
    m_open.pop_back();
    if (m_start_open) {
        m_out.append("/>");
        m_start_open = false;
    } else {
        indent(m_open.size());
        m_out.append("</");
        m_out.append(name);
        m_out.push_back('>');
    }
    // The root element ends with a line end, formatted or not.
    if (m_formatted || m_open.empty()) m_out.push_back('\n');
}

}  // namespace Core_Common
