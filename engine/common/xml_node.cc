#include "common/xml_node.h"

#include <libxml/SAX2.h>
#include <libxml/parser.h>
#include <libxml/parserInternals.h>
#include <libxml/tree.h>

#include <algorithm>
#include <charconv>
#include <climits>
#include <memory>
#include <new>
#include <utility>

#include "common/fatal_error.h"
#include "common/shared_record_pool.h"
#include "common/xml_library.h"
#include "platform/strings.h"

namespace Core_Common {
namespace {

// Child nodes live in the process-wide pool of XML node records.
xml_node_t* new_child_node() { return shared_record_pool<xml_node_t>::create("xml_node_t"); }
void delete_child_node(xml_node_t* node) { shared_record_pool<xml_node_t>::destroy(node); }

const xmlChar* as_xml(const std::string& s) { return reinterpret_cast<const xmlChar*>(s.c_str()); }

std::string content_of(const xmlNode* node) {
    std::string out;
    if (xmlChar* content = xmlNodeGetContent(node)) {
        out = reinterpret_cast<const char*>(content);
        xmlFree(content);
    }
    return out;
}

bool has_element_child(const xmlNode* element) {
    for (const xmlNode* c = element->children; c != nullptr; c = c->next) {
        if (c->type == XML_ELEMENT_NODE) return true;
    }
    return false;
}

// The text content of an element without element children, as
// xmlNodeGetContent gives it: its text and CDATA pieces joined, comments and
// processing instructions left out. Plain pieces are joined here directly;
// anything else (entity references) goes through the library.
std::string leaf_text(const xmlNode* element) {
    std::string out;
    for (const xmlNode* c = element->children; c != nullptr; c = c->next) {
        switch (c->type) {
            case XML_TEXT_NODE:
            case XML_CDATA_SECTION_NODE:
                if (c->content != nullptr) out += reinterpret_cast<const char*>(c->content);
                break;
            case XML_COMMENT_NODE:
            case XML_PI_NODE:
                break;
            default:
                return content_of(element);
        }
    }
    return out;
}

// What the parser checks while it reads (the context's _private).
struct parse_guard_t {
    xml_limits_t limits;
    std::size_t depth = 0;
    std::size_t elements = 0;
    bool refused = false;
};

void refuse(xmlParserCtxtPtr context) {
    static_cast<parse_guard_t*>(context->_private)->refused = true;
    xmlStopParser(context);
}

// Any document type declaration, with an internal subset or an external
// one: no document of this system has one, and entity definitions are how
// a few bytes of input become gigabytes of text.
void on_internal_subset(void* context, const xmlChar*, const xmlChar*, const xmlChar*) {
    refuse(static_cast<xmlParserCtxtPtr>(context));
}

void on_start_element(void* context, const xmlChar* local_name, const xmlChar* prefix,
                      const xmlChar* uri, int namespace_count, const xmlChar** namespaces,
                      int attribute_count, int defaulted, const xmlChar** attributes) {
    auto* ctxt = static_cast<xmlParserCtxtPtr>(context);
    auto& guard = *static_cast<parse_guard_t*>(ctxt->_private);
    if (guard.refused) return;
    if (++guard.depth > guard.limits.max_depth || ++guard.elements > guard.limits.max_elements)
        return refuse(ctxt);
    xmlSAX2StartElementNs(context, local_name, prefix, uri, namespace_count, namespaces,
                          attribute_count, defaulted, attributes);
}

void on_end_element(void* context, const xmlChar* local_name, const xmlChar* prefix,
                    const xmlChar* uri) {
    auto* ctxt = static_cast<xmlParserCtxtPtr>(context);
    auto& guard = *static_cast<parse_guard_t*>(ctxt->_private);
    if (guard.refused) return;
    --guard.depth;
    xmlSAX2EndElementNs(context, local_name, prefix, uri);
}

// Reads a document as xmlReadMemory() does, with the checks above; the
// document or nullptr.
xmlDoc* read_document(const char* data, std::size_t length, const std::string& encoding,
                      const xml_limits_t& limits) {
    std::unique_ptr<xmlParserCtxt, xml_library::context_free> context(
        xmlCreateMemoryParserCtxt(data, static_cast<int>(length)));
    if (!context) return nullptr;
    parse_guard_t guard;
    guard.limits = limits;
    context->_private = &guard;
    xmlSAXHandler* sax = context->sax;
    sax->internalSubset = &on_internal_subset;
    sax->startElementNs = &on_start_element;
    sax->endElementNs = &on_end_element;
    xmlCtxtUseOptions(context.get(), XML_PARSE_NONET);
    if (!encoding.empty()) {
        // An encoding the library does not know leaves the declared one.
        if (xmlCharEncodingHandlerPtr handler = xmlFindCharEncodingHandler(encoding.c_str()))
            xmlSwitchToEncoding(context.get(), handler);
    }
    xmlParseDocument(context.get());
    if (guard.refused || !context->wellFormed) return nullptr;
    return std::exchange(context->myDoc, nullptr);
}

void fill_from_element(xml_node_t& node, const xmlNode* element) {
    node.name = Core_Platform::utf8_to_wide(reinterpret_cast<const char*>(element->name));
    if (!has_element_child(element)) node.text = leaf_text(element);
    for (const xmlAttr* a = element->properties; a != nullptr; a = a->next) {
        std::string value = a->children != nullptr ? content_of(a->children) : std::string();
        node.add_attribute(reinterpret_cast<const char*>(a->name), value);
    }
    for (const xmlNode* c = element->children; c != nullptr; c = c->next) {
        if (c->type == XML_ELEMENT_NODE) fill_from_element(node.add_child(u""), c);
    }
}

void add_attributes(xmlNode* element, const xml_node_t& node) {
    for (const auto& [attr_name, value] : node.attributes) {
        xmlNewProp(element, as_xml(attr_name), as_xml(value));
    }
}

void write_children(xmlNode* parent, const xml_node_t& node) {
    for (const xml_node_t* child : node.children) {
        const std::string child_name = Core_Platform::wide_to_utf8(child->name);
        xmlNode* element = xmlNewTextChild(parent, nullptr, as_xml(child_name),
                                           child->text.empty() ? nullptr : as_xml(child->text));
        if (element == nullptr) continue;  // out of memory: the dump below fails as a whole
        add_attributes(element, *child);
        write_children(element, *child);
    }
}

// Runs of "-0123456789." as the integer helpers read them.
bool starts_number(char16_t c) { return c == u'-' || c == u'.' || (c >= u'0' && c <= u'9'); }
bool continues_number(char16_t c) { return c == u'.' || (c >= u'0' && c <= u'9'); }

template <class Int>
Int parse_integer(std::u16string_view wide) {
    std::size_t start = 0;
    while (start < wide.size() && !starts_number(wide[start])) ++start;
    if (start == wide.size()) return 0;
    std::size_t end = start + 1;
    while (end < wide.size() && continues_number(wide[end])) ++end;
    // The run is pure ASCII by construction.
    std::string run;
    for (std::size_t i = start; i < end; ++i) run.push_back(static_cast<char>(wide[i]));
    Int value = 0;
    auto [ptr, ec] = std::from_chars(run.data(), run.data() + run.size(), value, 10);
    if (ec != std::errc() || ptr != run.data() + run.size()) return 0;
    return value;
}

}  // namespace

xml_node_t::~xml_node_t() { clear(); }

xml_node_t::xml_node_t(xml_node_t&& other) noexcept
    : name(std::move(other.name)),
      text(std::move(other.text)),
      attributes(std::move(other.attributes)),
      children(std::move(other.children)) {
    other.clear();
}

xml_node_t& xml_node_t::operator=(xml_node_t&& other) noexcept {
    if (this != &other) {
        clear();
        name = std::move(other.name);
        text = std::move(other.text);
        attributes = std::move(other.attributes);
        children = std::move(other.children);
        other.clear();
    }
    return *this;
}

void xml_node_t::clear() {
    for (xml_node_t* child : children) delete_child_node(child);
    children.clear();
    name.clear();
    text.clear();
    attributes.clear();
}

xml_node_t& xml_node_t::add_child(std::u16string_view child_name) {
    // Grow first (geometrically), so the push_back below cannot throw and
    // leak the new node.
    if (children.size() == children.capacity())
        children.reserve(std::max<std::size_t>(4, 2 * children.size()));
    xml_node_t* child = new_child_node();
    children.push_back(child);  // owned from here on, even if the name below throws
    child->name = child_name;
    return *child;
}

const xml_node_t* xml_node_t::find_child(std::u16string_view child_name) const {
    for (const xml_node_t* child : children) {
        if (child->name == child_name) return child;
    }
    return nullptr;
}

xml_node_t* xml_node_t::find_child(std::u16string_view child_name) {
    return const_cast<xml_node_t*>(std::as_const(*this).find_child(child_name));
}

const xml_node_t* xml_node_t::find_path(std::u16string_view path) const {
    const xml_node_t* current = this;
    bool any_segment = false;
    std::size_t pos = 0;
    while (pos <= path.size()) {
        std::size_t slash = path.find(u'/', pos);
        if (slash == std::u16string_view::npos) slash = path.size();
        std::u16string_view segment = path.substr(pos, slash - pos);
        if (!segment.empty()) {
            current = current->find_child(segment);
            if (current == nullptr) return nullptr;
            any_segment = true;
        }
        pos = slash + 1;
    }
    return any_segment ? current : nullptr;
}

xml_node_t* xml_node_t::find_path(std::u16string_view path) {
    return const_cast<xml_node_t*>(std::as_const(*this).find_path(path));
}

void xml_node_t::add_attribute(std::string_view attr_name, std::string_view value) {
    attributes.emplace_back(std::string(attr_name), std::string(value));
}

bool xml_node_t::get_attribute(std::u16string_view attr_name, std::u16string& value) const {
    const std::string key = Core_Platform::wide_to_utf8(attr_name);
    for (const auto& [n, v] : attributes) {
        if (n == key) {
            value = Core_Platform::utf8_to_wide(v);
            return true;
        }
    }
    return false;
}

bool xml_node_t::get_attribute(std::u16string_view attr_name, std::string& value) const {
    std::u16string wide;
    if (!get_attribute(attr_name, wide)) return false;
    value = Core_Platform::wide_to_ansi(wide);
    return true;
}

bool xml_node_t::parse(const void* data, std::size_t length, std::string_view encoding) {
    return parse_checked(data, length, encoding, xml_limits_t{});
}

bool xml_node_t::parse(std::string_view document, const xml_limits_t& limits) {
    return parse_checked(document.data(), document.size(), {}, limits);
}

bool xml_node_t::parse_checked(const void* data, std::size_t length, std::string_view encoding,
                               const xml_limits_t& limits) {
    clear();
    if (data == nullptr || length == 0 || length > static_cast<std::size_t>(INT_MAX)) return false;
    xml_library::init();
    xmlDoc* doc;
    {
        xml_library::quiet_errors quiet;
        doc = read_document(static_cast<const char*>(data), length, std::string(encoding), limits);
    }
    if (doc == nullptr) return false;
    const xmlNode* root = xmlDocGetRootElement(doc);
    if (root == nullptr) {
        xmlFreeDoc(doc);
        return false;
    }
    try {
        fill_from_element(*this, root);
    } catch (...) {
        xmlFreeDoc(doc);
        clear();
        throw;
    }
    xmlFreeDoc(doc);
    return true;
}

bool xml_node_t::parse(std::string_view document, std::string_view encoding) {
    return parse(document.data(), document.size(), encoding);
}

bool xml_node_t::parse(const std::vector<std::uint8_t>& document, std::string_view encoding) {
    return parse(document.data(), document.size(), encoding);
}

template <class Out>
void xml_node_t::serialize_into(Out& out, bool formatted) const {
    if (name.empty()) fatal_error();
    xml_library::init();
    xmlDoc* doc = xmlNewDoc(reinterpret_cast<const xmlChar*>("1.0"));
    if (doc == nullptr) {
        out.clear();
        return;
    }
    doc->standalone = 1;
    // Element names repeat throughout a tree; a dictionary keeps one copy of
    // each instead of one allocation per element. xmlFreeDoc releases it.
    doc->dict = xmlDictCreate();
    const std::string root_name = Core_Platform::wide_to_utf8(name);
    xmlNode* root = xmlNewNode(nullptr, as_xml(root_name));
    xmlChar* buffer = nullptr;
    int size = 0;
    if (root != nullptr) {
        add_attributes(root, *this);
        xmlDocSetRootElement(doc, root);
        write_children(root, *this);
        xmlDocDumpFormatMemoryEnc(doc, &buffer, &size, "UTF-8", formatted ? 1 : 0);
    }
    if (buffer != nullptr && size > 0) {
        const auto* bytes = reinterpret_cast<const typename Out::value_type*>(buffer);
        try {
            out.assign(bytes, bytes + size);
        } catch (...) {
            xmlFree(buffer);
            xmlFreeDoc(doc);
            throw;
        }
    } else {
        out.clear();
    }
    if (buffer != nullptr) xmlFree(buffer);
    xmlFreeDoc(doc);
}

void xml_node_t::serialize(std::string& out, bool formatted) const {
    serialize_into(out, formatted);
}

void xml_node_t::serialize(std::vector<std::uint8_t>& out, bool formatted) const {
    serialize_into(out, formatted);
}

void xml_node_t::set_wide(std::u16string_view value) { text = Core_Platform::wide_to_utf8(value); }

void xml_node_t::set_ansi(std::string_view value) { text = Core_Platform::ansi_to_utf8(value); }

void xml_node_t::set_bool(bool value) { text = value ? "true" : "false"; }
void xml_node_t::set_int32(std::int32_t value) { text = std::to_string(value); }
void xml_node_t::set_uint32(std::uint32_t value) { text = std::to_string(value); }
void xml_node_t::set_int64(std::int64_t value) { text = std::to_string(value); }

std::u16string xml_node_t::get_wide() const { return Core_Platform::utf8_to_wide(text); }
std::string xml_node_t::get_ansi() const { return Core_Platform::utf8_to_ansi(text); }
std::int32_t xml_node_t::get_int32() const { return parse_integer<std::int32_t>(get_wide()); }
std::int64_t xml_node_t::get_int64() const { return parse_integer<std::int64_t>(get_wide()); }

bool xml_node_t::get_child(std::u16string_view child_name, std::u16string& out) const {
    const xml_node_t* child = find_child(child_name);
    if (child == nullptr) return false;
    out = child->get_wide();
    return true;
}

bool xml_node_t::get_child(std::u16string_view child_name, std::string& out) const {
    const xml_node_t* child = find_child(child_name);
    if (child == nullptr) return false;
    out = child->get_ansi();
    return true;
}

bool xml_node_t::get_child(std::u16string_view child_name, std::int32_t& out) const {
    const xml_node_t* child = find_child(child_name);
    if (child == nullptr) return false;
    out = child->get_int32();
    return true;
}

bool xml_node_t::get_child(std::u16string_view child_name, std::int64_t& out) const {
    const xml_node_t* child = find_child(child_name);
    if (child == nullptr) return false;
    out = child->get_int64();
    return true;
}

}  // namespace Core_Common
