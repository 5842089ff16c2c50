// Public engine surface: the string forms of the engine and the conversions
// between them.
//
// Three forms meet in the engine:
//   - wide strings (std::u16string, 16-bit code units) for user-visible and
//     user-entered text: user names, passwords, titles, status keys;
//   - UTF-8 byte strings for the text of every XML document;
//   - narrow strings in the system's "ANSI code page" for a few protocol
//     values and for file passphrases.
// On this platform the ANSI code page is UTF-8. That choice lives only in
// strings.cc, so a single-byte code page could be plugged in there later.
//
// Every conversion is total: a conversion that fails yields an empty string,
// never an error or an exception. All functions are thread-safe.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace Core_Platform {

// Strict UTF-8 decoding: an invalid sequence anywhere (bad lead or
// continuation byte, truncation, overlong form, encoded surrogate, value above
// U+10FFFF) makes the whole result empty. A character outside the Basic
// Multilingual Plane becomes its surrogate pair (a valid XML character);
// every other code unit that is not an XML 1.0 character (below 0x20 other
// than tab, line feed and carriage return; 0xFFFE; 0xFFFF) is replaced by
// '_'. Strict decoding never yields a lone surrogate.
std::u16string utf8_to_wide(std::string_view utf8);
// The same into a buffer the caller provides, with room for utf8.size() code
// units (UTF-8 never has more code units than bytes). Returns false, with
// `count` 0, where utf8_to_wide gives the empty result for a non-empty text.
bool utf8_to_wide_into(std::string_view utf8, char16_t* out, std::size_t& count);

// Encodes UTF-16 as UTF-8. Surrogate pairs become one four-byte sequence; an
// unpaired surrogate, which is no XML character, becomes '_' as it does when
// text is decoded.
std::string wide_to_utf8(std::u16string_view wide);

// The same conversions into a string the caller keeps: its content is
// replaced and its storage reused, for converting many short texts in a row.
void wide_to_utf8(std::u16string_view wide, std::string& out);
void ansi_to_utf8(std::string_view ansi, std::string& out);

// The system ANSI code page (UTF-8 here) to and from wide; the same rules as
// the UTF-8 conversions above.
std::u16string ansi_to_wide(std::string_view ansi);
std::string wide_to_ansi(std::u16string_view wide);

// Between UTF-8 and the ANSI code page, always through the wide form (so the
// XML-character replacement applies; invalid input gives an empty string).
std::string ansi_to_utf8(std::string_view ansi);
std::string utf8_to_ansi(std::string_view utf8);

// True when `cu` is an XML 1.0 character as a single UTF-16 code unit.
bool is_xml_code_unit(char16_t cu);

// Hex text of bytes: two digits per byte, high half first, lower case.
std::string to_hex(std::string_view bytes);
std::string to_hex(const void* data, std::size_t size);
// The reverse of to_hex; accepts both cases. Returns false (and leaves `out`
// unchanged) on odd length or a non-hex digit.
bool from_hex(std::string_view hex, std::string& out);

// A hex digit of a nibble (0-15): lower case, or upper case for
// percent-escapes of addresses.
char hex_digit_lower(unsigned nibble);
char hex_digit_upper(unsigned nibble);
// The value of a hex digit (either case), or -1.
int hex_value(char c);

// ASCII-only case mapping, independent of the locale.
char ascii_lower(char c);
std::string ascii_lower(std::string_view s);
std::u16string ascii_lower(std::u16string_view s);

}  // namespace Core_Platform
