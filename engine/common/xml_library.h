// Inside the XML wrappers only (xml_node.cc, xml_stream.cc): setting up the
// XML library and keeping it quiet while it reads outside input.
#pragma once

#include <libxml/parser.h>
#include <libxml/parserInternals.h>
#include <libxml/tree.h>
#include <libxml/xmlerror.h>

#include <mutex>

namespace Core_Common::xml_library {

// The library's global tables must be set up once before any thread parses.
inline void init() {
    static std::once_flag once;
    std::call_once(once, [] { xmlInitParser(); });
}

// Frees a parser context and any document it was left holding (a parse
// stopped half-way keeps its partial document); for std::unique_ptr.
struct context_free {
    void operator()(xmlParserCtxtPtr context) const {
        if (context->myDoc != nullptr) {
            xmlFreeDoc(context->myDoc);
            context->myDoc = nullptr;
        }
        xmlFreeParserCtxt(context);
    }
};

// True when a document parsed from memory was read to its last byte. The
// library takes a NUL character for the end of its input, so a document
// followed by a NUL and anything at all would otherwise read as well formed
// (a reader fed in pieces refuses the same bytes). XML has no NUL character.
inline bool read_to_end(const xmlParserCtxt& context) {
    const xmlParserInput* input = context.input;
    return input != nullptr && input->cur == input->end &&
           (input->buf == nullptr || input->buf->raw == nullptr || xmlBufUse(input->buf->raw) == 0);
}

// Keeps the library quiet while it parses outside input: a malformed document
// is an ordinary failure reported by the result, not by text on stderr. The
// library's error handlers are per thread, so this touches only the caller.
class quiet_errors {
public:
    quiet_errors()
        : m_structured(xmlStructuredError),
          m_structured_context(xmlStructuredErrorContext),
          m_generic(xmlGenericError),
          m_generic_context(xmlGenericErrorContext) {
        xmlSetStructuredErrorFunc(nullptr, &ignore_structured);
        xmlSetGenericErrorFunc(nullptr, &ignore_generic);
    }
    ~quiet_errors() {
        xmlSetStructuredErrorFunc(m_structured_context, m_structured);
        xmlSetGenericErrorFunc(m_generic_context, m_generic);
    }
    quiet_errors(const quiet_errors&) = delete;
    quiet_errors& operator=(const quiet_errors&) = delete;

private:
    static void ignore_structured(void*, xmlErrorPtr) {}
    static void ignore_generic(void*, const char*, ...) {}

    xmlStructuredErrorFunc m_structured;
    void* m_structured_context;
    xmlGenericErrorFunc m_generic;
    void* m_generic_context;
};

}  // namespace Core_Common::xml_library
