// Public engine surface: the engine's in-memory XML element.
//
// xml_node_t is a name, a text, an ordered list of attributes and an ordered
// list of owned child elements. Every XML document the engine reads or writes
// goes through it; the XML library stays hidden behind this header (no
// library type appears here). parse() reads a document into a tree of nodes
// and frees the library's document at once; serialize() builds a library
// document from the tree, dumps it and frees it. A node holds no library
// resources between calls.
//
// String forms: `name` is wide; `text`, attribute names and attribute values
// are UTF-8 bytes. The typed helpers convert with the platform's string
// conversions (platform/strings.h): a conversion that fails gives an empty
// string, never an error.
//
// Ownership: a node owns its children. A node declared by the caller (on the
// stack, as a member) is the root of a document; every other node is created
// by add_child() of its parent and is destroyed only with it (by clear() or
// the parent's destructor). Child nodes come from the process-wide pool of XML
// node records, which takes its own lock for each allocation and release.
//
// Thread rule: a node is not synchronised; one thread at a time may use a
// tree. Different trees may be used on different threads concurrently.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace Core_Common {

// Bounds on a document read by xml_node_t::parse(), checked as the parser
// meets each element, before the element is built: a document that breaks
// one is refused whole. Without limits the XML library's own bound holds:
// it refuses elements nested deeper than 257 levels.
struct xml_limits_t {
    std::size_t max_depth = SIZE_MAX;  // nesting of elements; the root element is at depth 1
    std::size_t max_elements = SIZE_MAX;
};

class xml_node_t {
public:
    using attribute_t = std::pair<std::string, std::string>;

    // A new node is empty: empty name, text, attributes and children.
    xml_node_t() = default;
    // Destroys the whole subtree.
    ~xml_node_t();
    // A tree is moved, never copied: the moved-from node is left empty.
    xml_node_t(xml_node_t&& other) noexcept;
    xml_node_t& operator=(xml_node_t&& other) noexcept;
    xml_node_t(const xml_node_t&) = delete;
    xml_node_t& operator=(const xml_node_t&) = delete;

    // ---- Structure ----

    // Destroys all children and empties name, text and attributes.
    void clear();

    // Appends a new empty node named `child_name` to the children and returns
    // it. The reference stays valid until this node is cleared or destroyed.
    xml_node_t& add_child(std::u16string_view child_name);

    // The first direct child whose name equals `child_name` exactly
    // (case-sensitive, whole string), or nullptr. Grandchildren are not
    // searched.
    xml_node_t* find_child(std::u16string_view child_name);
    const xml_node_t* find_child(std::u16string_view child_name) const;

    // Walks down by '/'-separated names, each looked up with find_child() on
    // the node found for the previous one (the first on this node). Empty
    // segments are skipped, so "a//b/" finds what "a/b" finds. Returns the
    // node of the last segment, or nullptr as soon as a segment is missing or
    // when the path has no non-empty segment ("" and "/").
    xml_node_t* find_path(std::u16string_view path);
    const xml_node_t* find_path(std::u16string_view path) const;

    // Appends an attribute (UTF-8 name and value). Duplicates are kept.
    void add_attribute(std::string_view attr_name, std::string_view value);

    // Looks for the first attribute whose name is byte-equal to `attr_name`
    // converted to UTF-8. When found, stores its value (wide, or narrow in the
    // ANSI code page) in `value` and returns true; otherwise returns false and
    // leaves `value` untouched.
    bool get_attribute(std::u16string_view attr_name, std::u16string& value) const;
    bool get_attribute(std::u16string_view attr_name, std::string& value) const;

    // ---- Parsing ----

    // Replaces this node's whole content by the root element of the document
    // in the buffer. `encoding`, when not empty, overrides the document's
    // declared encoding; otherwise the document's own declaration applies
    // (UTF-8 by default). No document of this system has a document type
    // declaration: one is refused, whatever it holds, and with it every
    // entity reference but the five predefined entities and character
    // references. Nothing is loaded from the network or from files.
    //
    // An element without element children gets its whole text content
    // (text and CDATA of all descendants); an element with at least one
    // element child gets an empty text (text between children is dropped).
    // Comments and processing instructions are ignored.
    //
    // Returns false for malformed XML, a document type declaration, an empty
    // buffer, a buffer longer than the parser accepts (2 GiB), a document
    // without root element, or one beyond `limits`; the node is then empty,
    // never left with earlier or partial content.
    bool parse(const void* data, std::size_t length, std::string_view encoding = {});
    bool parse(std::string_view document, std::string_view encoding = {});
    bool parse(const std::vector<std::uint8_t>& document, std::string_view encoding = {});
    bool parse(std::string_view document, const xml_limits_t& limits);

    // ---- Output ----

    // Writes the tree as a document, replacing the content of `out`:
    // the declaration <?xml version="1.0" encoding="UTF-8" standalone="yes"?>,
    // then this node as the root element with its attributes (its own text is
    // not written), then the children recursively with their text, attributes
    // and children. A child with an empty text is written as an empty element
    // (<name/>). "&", "<", ">" and carriage return in texts are escaped.
    // With `formatted`, every element sits on its own line, indented by two
    // spaces per level. If the XML library runs out of memory, `out` is empty.
    //
    // Raises fatal_error() (std::runtime_error "crash") if this node's name
    // is empty: that is a programming error, and `out` is left unchanged.
    void serialize(std::string& out, bool formatted) const;
    void serialize(std::vector<std::uint8_t>& out, bool formatted) const;

    // ---- Text helpers (all act on `text`) ----

    void set_wide(std::u16string_view value);  // wide -> UTF-8
    void set_ansi(std::string_view value);     // ANSI code page -> wide -> UTF-8
    void set_bool(bool value);                 // "true" or "false"
    void set_int32(std::int32_t value);        // decimal, "-" for negatives
    void set_uint32(std::uint32_t value);
    void set_int64(std::int64_t value);

    std::u16string get_wide() const;  // UTF-8 -> wide
    std::string get_ansi() const;     // UTF-8 -> wide -> ANSI code page
    // The integer rule: in the wide text, the number starts at the first
    // character among "-0123456789." and runs up to the next character that
    // is not among "0123456789."; that run must convert as a whole to a
    // signed decimal of the target width, otherwise the result is 0. Leading
    // text is ignored ("t=42" gives 42); "1.5", "-", overflow and a text
    // without digits give 0.
    std::int32_t get_int32() const;
    std::int64_t get_int64() const;

    // Child readers: when the direct child `child_name` exists, stores its
    // text in `out` (wide, narrow ANSI, or an integer by the rule above) and
    // returns true; a missing child leaves `out` unchanged and returns false.
    bool get_child(std::u16string_view child_name, std::u16string& out) const;
    bool get_child(std::u16string_view child_name, std::string& out) const;
    bool get_child(std::u16string_view child_name, std::int32_t& out) const;
    bool get_child(std::u16string_view child_name, std::int64_t& out) const;

    // ---- Fields ----

    std::u16string name;                  // element name; must not be empty to serialise
    std::string text;                     // UTF-8 character content, unescaped
    std::vector<attribute_t> attributes;  // in document order
    std::vector<xml_node_t*> children;    // owned, in document order

private:
    bool parse_checked(const void* data, std::size_t length, std::string_view encoding,
                       const xml_limits_t& limits);
    template <class Out>
    void serialize_into(Out& out, bool formatted) const;
};

}  // namespace Core_Common
