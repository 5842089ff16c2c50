// Public engine surface: the three forms of a bookmark address.
//
//   - The stored form is what a node holds in `url` and `feed_url`: narrow
//     text, ASCII with upper-case percent-escapes in host and path when the
//     address has a scheme, the UTF-8 bytes of the text otherwise.
//   - The display form is what a tree document carries: wide text with host
//     and path decoded into readable characters.
//   - The comparison key decides whether two stored addresses name the same
//     place: two addresses are the same when their keys are byte-equal.
//
// All three rest on one small parser and builder (`parse_url`, `build_url`),
// with a narrow and a wide variant that follow identical rules. None of the
// functions fails: text that does not parse is treated as opaque, and a
// failed character conversion falls back as described at each function.
// All functions are pure and thread-safe.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace Core_ZorvaneMerge {

// A parsed address. "Character" below is a byte for the narrow variant and a
// 16-bit code unit for the wide one.
template <class CharT>
struct basic_url_record {
    using string_type = std::basic_string<CharT>;

    string_type scheme;      // text before the scheme colon, case as written
    string_type separator;   // "//" when present after the scheme colon, else empty
    string_type user;        // user name before "@"
    string_type password;    // text after the first ":" of the user part
    string_type host;        // without user part and without a valid port
    std::uint16_t port = 0;  // the scheme's default port unless written; 0 when unknown
    string_type path;        // from the first "/" or "\" after the host, separator included
    string_type query;       // text after "?" up to the fragment, without the "?"
    string_type fragment;    // from "#" to the end, "#" included

    basic_url_record() : separator{CharT('/'), CharT('/')} {}
};

using url_record = basic_url_record<char>;
using wide_url_record = basic_url_record<char16_t>;

// Splits `text` into its parts. An address "has a scheme" when the result's
// `scheme` is not empty; a text whose first ":" does not come before its
// first "?" has none. The recognised schemes "http", "https" and "ftp" (any
// case) give their default port 80, 443 or 21 unless another valid port is
// written. A port text that is empty or holds anything but digits stays in
// `host` with its colon; a number above 65535 gives port 0. For "file" the
// whole rest after the separator is host and path (no user, port, query or
// fragment).
url_record parse_url(std::string_view text);
wide_url_record parse_url(std::u16string_view text);

// Writes a record back as text: scheme, ":" and separator (when there is a
// scheme), user part, host, a port that is not the scheme's default, path (a
// leading "./" loses its dot; a path not starting with "/" or "\" gets "/"
// first), "?" and query (when not empty), fragment. Spaces in query and
// fragment are written as "%20".
std::string build_url(const url_record& record);
std::u16string build_url(const wide_url_record& record);

// Replaces every "%" followed by two hex digits (either case) by the byte
// they name. A "%" that is not followed by two hex digits is copied as it is,
// so text that merely contains a percent sign ("50%off", "100%") survives.
std::string percent_decode(std::string_view bytes);

// Copies ASCII letters, digits and the characters allowed in a host
// (- . _ ~ ! $ & ' ( ) * + , ; =) and writes every other byte as "%" and two
// upper-case hex digits.
std::string encode_host(std::string_view bytes);

// As encode_host with the characters allowed in a path segment
// (- . _ ~ ! $ & ( ) * + , ; = : @); the apostrophe is written as %27.
std::string encode_path_segment(std::string_view bytes);

// True for an address that both forms below give back unchanged: printable
// ASCII without spaces, "%" or "\"; a scheme of letters, digits, "+", "-"
// or "." (not "file") followed by "//"; a host of characters encode_host
// keeps (so no user part and no port); path segments of characters
// encode_path_segment keeps; and a "?" only before a non-empty query. For
// such text to_stored_form gives the text itself and to_display_form the
// same characters, with no parsing or conversion at all.
bool is_plain_address(std::string_view text);
bool is_plain_address(std::u16string_view text);

// The stored form of an address as a document carries it. With a scheme:
// host and every path segment (between "/" and "\" separators, which are kept
// as written) are percent-decoded and re-encoded with the encoders above, so
// a stored form is left unchanged and escapes of unreserved characters
// disappear; the result is in the ANSI code page. Without a scheme: the text
// as UTF-8, otherwise unchanged. The result always reads back as itself: a
// malformed address whose parts would build into text that parses
// differently ("x:@//a:@h") is taken on to the form that does ("x://a@h").
std::string to_stored_form(std::u16string_view text);

// The display form of a stored address. With a scheme: host and path
// segments are shown decoded when the escapes form UTF-8 (otherwise as
// written); for "file" addresses a "#" in the path stays "%23"; user,
// password, query and fragment are not decoded. Reading the display form back
// with to_stored_form gives the stored address again: where decoding
// an escape would change how the address splits into parts or would not
// survive a document ("/", "?", "#", "%", "@", ":", control characters,
// characters outside the Basic Multilingual Plane), that escape is kept.
// Without a scheme: the stored bytes read as UTF-8.
std::u16string to_display_form(std::string_view stored);

// The comparison key of a stored address. It ignores the case of the scheme,
// and for web addresses (http, https, ftp) the case of the host and a missing
// root path; it also ignores a default port, the fragment, "\" versus "/" in
// the path, trailing spaces and tabs of the path, and whether characters of
// host and path are escaped. It keeps the case of path and query. A text
// without scheme is its own key.
std::string comparison_key(std::string_view stored);

}  // namespace Core_ZorvaneMerge
