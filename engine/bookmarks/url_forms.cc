#include "bookmarks/url_forms.h"

#include <array>
#include <type_traits>

#include "platform/strings.h"

namespace Core_ZorvaneMerge {
namespace {

using Core_Platform::ansi_to_wide;
using Core_Platform::ascii_lower;
using Core_Platform::hex_value;
using Core_Platform::utf8_to_wide;
using Core_Platform::wide_to_ansi;
using Core_Platform::wide_to_utf8;

template <class CharT>
bool is_path_separator(CharT c) {
    return c == CharT('/') || c == CharT('\\');
}

template <class CharT>
std::size_t find_path_separator(std::basic_string_view<CharT> s) {
    for (std::size_t i = 0; i < s.size(); ++i) {
        if (is_path_separator(s[i])) return i;
    }
    return std::basic_string_view<CharT>::npos;
}

// Lower-cases ASCII letters only; other characters pass unchanged.
template <class CharT>
std::basic_string<CharT> lower(std::basic_string_view<CharT> s) {
    std::basic_string<CharT> out(s);
    for (auto& c : out) {
        if (c >= CharT('A') && c <= CharT('Z')) c = static_cast<CharT>(c - 'A' + 'a');
    }
    return out;
}

template <class CharT>
bool equals_ascii(std::basic_string_view<CharT> s, std::string_view ascii) {
    if (s.size() != ascii.size()) return false;
    for (std::size_t i = 0; i < s.size(); ++i) {
        if (s[i] != static_cast<CharT>(ascii[i])) return false;
    }
    return true;
}

// The default port of a scheme already lowered, 0 when it has none.
template <class CharT>
std::uint16_t default_port(std::basic_string_view<CharT> lowered_scheme) {
    if (equals_ascii(lowered_scheme, "http")) return 80;
    if (equals_ascii(lowered_scheme, "https")) return 443;
    if (equals_ascii(lowered_scheme, "ftp")) return 21;
    return 0;
}

template <class CharT>
bool is_web_scheme(std::basic_string_view<CharT> scheme) {
    return default_port<CharT>(lower(scheme)) != 0;
}

template <class CharT>
bool is_file_scheme(std::basic_string_view<CharT> scheme) {
    return equals_ascii<CharT>(lower(scheme), "file");
}

template <class CharT>
void split_host_path(std::basic_string_view<CharT> candidate, basic_url_record<CharT>& r) {
    std::size_t sep = find_path_separator(candidate);
    if (sep == candidate.npos) {
        r.host.assign(candidate);
        r.path.clear();
    } else {
        r.host.assign(candidate.substr(0, sep));
        r.path.assign(candidate.substr(sep));
    }
}

template <class CharT>
basic_url_record<CharT> parse(std::basic_string_view<CharT> text) {
    using view = std::basic_string_view<CharT>;
    basic_url_record<CharT> r;

    std::size_t q = text.find(CharT('?'));
    if (q == view::npos) q = text.size();
    std::size_t colon = text.find(CharT(':'));
    std::size_t pos = 0;
    if (colon != view::npos && colon < q) {
        r.scheme.assign(text.substr(0, colon));
        pos = colon + 1;
        r.port = default_port<CharT>(lower<CharT>(r.scheme));
    }

    view rest = text.substr(pos);
    if (rest.size() >= 2 && rest[0] == CharT('/') && rest[1] == CharT('/')) {
        rest.remove_prefix(2);
    } else {
        r.separator.clear();
    }

    if (is_file_scheme<CharT>(r.scheme)) {
        split_host_path(rest, r);
        return r;
    }

    std::size_t qm = rest.find(CharT('?'));
    std::size_t hs = rest.find(CharT('#'));
    view candidate = rest;
    if (qm == view::npos && hs != view::npos) {
        candidate = rest.substr(0, hs);
        r.fragment.assign(rest.substr(hs));
    } else if (qm != view::npos && hs == view::npos) {
        candidate = rest.substr(0, qm);
        r.query.assign(rest.substr(qm + 1));
    } else if (qm != view::npos && hs != view::npos) {
        if (qm < hs) {
            candidate = rest.substr(0, qm);
            r.query.assign(rest.substr(qm + 1, hs - qm - 1));
        } else {
            candidate = rest.substr(0, hs);
        }
        r.fragment.assign(rest.substr(hs));
    }
    split_host_path(candidate, r);

    std::size_t at = r.host.find(CharT('@'));
    if (at != r.host.npos) {
        view user_part = view(r.host).substr(0, at);
        std::size_t uc = user_part.find(CharT(':'));
        if (uc == view::npos) {
            r.user.assign(user_part);
        } else {
            r.user.assign(user_part.substr(0, uc));
            r.password.assign(user_part.substr(uc + 1));
        }
        r.host.erase(0, at + 1);
    }

    std::size_t pc = r.host.find(CharT(':'));
    if (pc != r.host.npos) {
        view digits = view(r.host).substr(pc + 1);
        bool all_digits = !digits.empty();
        std::uint32_t value = 0;
        for (CharT c : digits) {
            if (c < CharT('0') || c > CharT('9')) {
                all_digits = false;
                break;
            }
            if (value <= 65535) value = value * 10 + static_cast<std::uint32_t>(c - CharT('0'));
        }
        if (all_digits) {
            r.host.erase(pc);
            r.port = value > 65535 ? 0 : static_cast<std::uint16_t>(value);
        }
    }
    return r;
}

template <class CharT>
void append_with_escaped_spaces(std::basic_string<CharT>& out, const std::basic_string<CharT>& s) {
    for (CharT c : s) {
        if (c == CharT(' ')) {
            out.push_back(CharT('%'));
            out.push_back(CharT('2'));
            out.push_back(CharT('0'));
        } else {
            out.push_back(c);
        }
    }
}

template <class CharT>
std::basic_string<CharT> build(const basic_url_record<CharT>& r) {
    std::basic_string<CharT> out;
    out.reserve(r.scheme.size() + r.host.size() + r.path.size() + r.query.size() +
                r.fragment.size() + 16);
    if (!r.scheme.empty()) {
        out += r.scheme;
        out.push_back(CharT(':'));
        out += r.separator;
    }
    if (!r.user.empty()) {
        out += r.user;
        if (!r.password.empty()) {
            out.push_back(CharT(':'));
            out += r.password;
        }
        out.push_back(CharT('@'));
    }
    out += r.host;
    if (r.port != 0 && r.port != default_port<CharT>(lower<CharT>(r.scheme))) {
        out.push_back(CharT(':'));
        for (char c : std::to_string(r.port)) out.push_back(CharT(c));
    }
    if (r.path.size() >= 2 && r.path[0] == CharT('.') && is_path_separator(r.path[1])) {
        out.append(r.path, 1);
    } else {
        if (!r.path.empty() && !is_path_separator(r.path[0])) out.push_back(CharT('/'));
        out += r.path;
    }
    if (!r.query.empty()) {
        out.push_back(CharT('?'));
        append_with_escaped_spaces(out, r.query);
    }
    append_with_escaped_spaces(out, r.fragment);
    return out;
}

constexpr bool is_alnum(unsigned char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9');
}

std::string encode(std::string_view bytes, std::string_view allowed) {
    std::string out;
    out.reserve(bytes.size());
    for (char ch : bytes) {
        auto c = static_cast<unsigned char>(ch);
        if (is_alnum(c) || (c != 0 && allowed.find(ch) != allowed.npos)) {
            out.push_back(ch);
        } else {
            out.push_back('%');
            out.push_back(Core_Platform::hex_digit_upper(c >> 4));
            out.push_back(Core_Platform::hex_digit_upper(c & 0x0F));
        }
    }
    return out;
}

constexpr std::string_view kHostAllowed = "-._~!$&'()*+,;=";
constexpr std::string_view kPathSegmentAllowed = "-._~!$&()*+,;=:@";

// Applies `fn` to each segment of a path between "/" and "\" separators; the
// separators themselves are copied unchanged.
template <class CharT, class Fn>
std::basic_string<CharT> map_segments(const std::basic_string<CharT>& path, Fn fn) {
    std::basic_string<CharT> out;
    out.reserve(path.size());
    std::size_t start = 0;
    for (std::size_t i = 0; i <= path.size(); ++i) {
        if (i == path.size() || is_path_separator(path[i])) {
            out += fn(std::basic_string_view<CharT>(path).substr(start, i - start));
            if (i < path.size()) out.push_back(path[i]);
            start = i + 1;
        }
    }
    return out;
}

// Percent-decodes and reads the result as UTF-8; when that fails for a
// non-empty input, the input is read undecoded in the ANSI code page.
std::u16string decode_to_wide(std::string_view bytes) {
    std::u16string w = utf8_to_wide(percent_decode(bytes));
    if (w.empty() && !bytes.empty()) w = ansi_to_wide(bytes);
    return w;
}

// As decode_to_wide, but ends in the ANSI code page; when that fails for a
// non-empty input, the input is returned unchanged.
std::string decode_to_ansi(std::string_view bytes) {
    std::string a = wide_to_ansi(utf8_to_wide(percent_decode(bytes)));
    if (a.empty() && !bytes.empty()) return std::string(bytes);
    return a;
}

std::u16string escape_hashes(const std::u16string& path) {
    std::u16string out;
    out.reserve(path.size());
    for (char16_t c : path) {
        if (c == u'#') {
            out += u"%23";
        } else {
            out.push_back(c);
        }
    }
    return out;
}

// The cautious decoding of the display form: decodes the escapes of host or
// path-segment text character by character, but keeps the escapes of every
// character that would change how the address splits into parts, or that a
// document cannot carry unchanged. Falls back to the undecoded text when the
// escapes do not form UTF-8.
std::u16string decode_for_display(std::string_view bytes, bool host) {
    std::string decoded = percent_decode(bytes);
    if (utf8_to_wide(decoded).empty() && !bytes.empty()) return ansi_to_wide(bytes);

    std::u16string out;
    out.reserve(bytes.size());
    std::size_t i = 0;
    while (i < bytes.size()) {
        if (bytes[i] != '%' || i + 2 >= bytes.size() || hex_value(bytes[i + 1]) < 0 ||
            hex_value(bytes[i + 2]) < 0) {
            // A plain character (or a lone "%"): one UTF-8 sequence of the
            // stored text, which is ASCII in practice.
            std::size_t j = i + 1;
            while (j < bytes.size() && (static_cast<unsigned char>(bytes[j]) & 0xC0) == 0x80) ++j;
            out += utf8_to_wide(bytes.substr(i, j - i));
            i = j;
            continue;
        }
        // A run of escapes that makes up one UTF-8 sequence.
        auto byte_at = [&](std::size_t k) {
            return static_cast<unsigned char>(hex_value(bytes[k + 1]) * 16 +
                                              hex_value(bytes[k + 2]));
        };
        unsigned char lead = byte_at(i);
        std::size_t length = lead < 0x80             ? 1
                             : (lead & 0xE0) == 0xC0 ? 2
                             : (lead & 0xF0) == 0xE0 ? 3
                                                     : 4;
        std::string seq;
        std::size_t k = i;
        while (seq.size() < length && k + 2 < bytes.size() && bytes[k] == '%' &&
               hex_value(bytes[k + 1]) >= 0 && hex_value(bytes[k + 2]) >= 0) {
            seq.push_back(static_cast<char>(byte_at(k)));
            k += 3;
        }
        std::u16string w = seq.size() == length ? utf8_to_wide(seq) : std::u16string();
        // Invalid, outside the Basic Multilingual Plane (two code units), or
        // not a character a document carries (the conversion made it "_").
        bool keep = w.size() != 1 || (w[0] == u'_' && seq != "_");
        if (!keep) {
            char16_t c = w[0];
            keep = c < 0x20 || c == 0x7F || c == u'%' || c == u'/' || c == u'\\' || c == u'?' ||
                   c == u'#' || !Core_Platform::is_xml_code_unit(c) ||
                   (host && (c == u'@' || c == u':'));
        }
        if (keep) {
            out += ansi_to_wide(bytes.substr(i, 3));
            i += 3;
        } else {
            out += w;
            i = k;
        }
    }
    return out;
}

}  // namespace

url_record parse_url(std::string_view text) { return parse<char>(text); }
wide_url_record parse_url(std::u16string_view text) { return parse<char16_t>(text); }
std::string build_url(const url_record& record) { return build(record); }
std::u16string build_url(const wide_url_record& record) { return build(record); }

std::string percent_decode(std::string_view bytes) {
    std::string out;
    out.reserve(bytes.size());
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        if (bytes[i] == '%' && i + 2 < bytes.size() && hex_value(bytes[i + 1]) >= 0 &&
            hex_value(bytes[i + 2]) >= 0) {
            out.push_back(
                static_cast<char>(hex_value(bytes[i + 1]) * 16 + hex_value(bytes[i + 2])));
            i += 2;
        } else {
            out.push_back(bytes[i]);
        }
    }
    return out;
}

std::string encode_host(std::string_view bytes) { return encode(bytes, kHostAllowed); }

std::string encode_path_segment(std::string_view bytes) {
    return encode(bytes, kPathSegmentAllowed);
}

namespace {

std::string stored_once(std::u16string_view text, bool& ambiguous) {
    wide_url_record r = parse_url(text);
    ambiguous = false;
    if (r.scheme.empty()) return wide_to_utf8(text);
    r.host = utf8_to_wide(encode_host(percent_decode(wide_to_utf8(r.host))));
    r.path = map_segments(r.path, [](std::u16string_view segment) {
        return utf8_to_wide(encode_path_segment(percent_decode(wide_to_utf8(segment))));
    });
    std::u16string built = build_url(r);
    // Without "//" after the scheme, an address whose text after the scheme
    // still begins with two slashes reads back differently.
    const std::size_t rest = r.scheme.size() + 1;
    ambiguous = r.separator.empty() && built.size() >= rest + 2 && built[rest] == u'/' &&
                built[rest + 1] == u'/';
    return wide_to_ansi(built);
}

// The ASCII letters and digits and the characters of `extra`, looked up
// in one step (every address of a large tree is checked several times).
class ascii_class_t {
public:
    constexpr explicit ascii_class_t(std::string_view extra) {
        for (unsigned c = 0; c < m_has.size(); ++c)
            m_has[c] = is_alnum(static_cast<unsigned char>(c));
        for (char c : extra) m_has[static_cast<unsigned char>(c)] = true;
    }
    template <class CharT>
    constexpr bool operator()(CharT c) const {
        const auto unit = static_cast<std::make_unsigned_t<CharT>>(c);
        return unit < m_has.size() && m_has[unit];
    }

private:
    std::array<bool, 128> m_has{};
};

constexpr ascii_class_t kSchemeClass("+-.");
constexpr ascii_class_t kHostClass(kHostAllowed);
constexpr ascii_class_t kPathSegmentClass(kPathSegmentAllowed);

template <class CharT>
bool plain_address(std::basic_string_view<CharT> text) {
    // Printable ASCII other than "%" and "\" (space is not printable here).
    auto plain = [](CharT c) {
        return c > 0x20 && c < 0x7F && c != CharT('%') && c != CharT('\\');
    };
    const std::size_t n = text.size();
    std::size_t i = 0;
    while (i < n && kSchemeClass(text[i])) ++i;
    if (i == 0 || i + 2 >= n || text[i] != CharT(':') || text[i + 1] != CharT('/') ||
        text[i + 2] != CharT('/'))
        return false;
    if (equals_ascii<CharT>(lower<CharT>(text.substr(0, i)), "file")) return false;
    for (i += 3; i < n && text[i] != CharT('/') && text[i] != CharT('?') && text[i] != CharT('#');
         ++i) {
        if (!kHostClass(text[i])) return false;
    }
    for (; i < n && text[i] != CharT('?') && text[i] != CharT('#'); ++i) {
        if (text[i] != CharT('/') && !kPathSegmentClass(text[i])) return false;
    }
    if (i < n && text[i] == CharT('?')) {
        const std::size_t query = ++i;
        while (i < n && text[i] != CharT('#') && plain(text[i])) ++i;
        if (i == query) return false;  // "?" without a query is dropped
    }
    for (; i < n; ++i) {
        if (!plain(text[i])) return false;
    }
    return true;
}

}  // namespace

bool is_plain_address(std::string_view text) { return plain_address(text); }
bool is_plain_address(std::u16string_view text) { return plain_address(text); }

// The two forms without the shortcut for plain addresses (the tests reach
// them through bookmarks/url_forms_testing.h).
std::string to_stored_form_in_full(std::u16string_view text);
std::u16string to_display_form_in_full(std::string_view stored);

std::string to_stored_form(std::u16string_view text) {
    if (is_plain_address(text)) return std::string(text.begin(), text.end());
    return to_stored_form_in_full(text);
}

std::u16string to_display_form(std::string_view stored) {
    if (is_plain_address(stored)) return std::u16string(stored.begin(), stored.end());
    return to_display_form_in_full(stored);
}

std::string to_stored_form_in_full(std::u16string_view text) {
    if (text.empty()) return {};
    bool ambiguous = false;
    std::string out = stored_once(text, ambiguous);
    // A malformed address ("x:@//a:@h") can build into text that reads back
    // as another address; take it to the form that reads back as itself, so
    // that a document read and written again keeps its addresses.
    for (int round = 0; ambiguous && round < 4; ++round) {
        std::string next = stored_once(ansi_to_wide(out), ambiguous);
        if (next == out) break;
        out = std::move(next);
        ambiguous = true;
    }
    return out;
}

std::u16string to_display_form_in_full(std::string_view stored) {
    if (stored.empty()) return {};
    wide_url_record r = parse_url(ansi_to_wide(stored));
    if (r.scheme.empty()) return utf8_to_wide(stored);
    const bool file = is_file_scheme<char16_t>(r.scheme);

    wide_url_record plain = r;
    plain.host = decode_to_wide(wide_to_ansi(r.host));
    plain.path = map_segments(
        r.path, [](std::u16string_view segment) { return decode_to_wide(wide_to_ansi(segment)); });
    if (file) plain.path = escape_hashes(plain.path);
    std::u16string display = build_url(plain);
    if (stored.find('%') == stored.npos) return display;

    // Decoding must not change the address a document gives back. Where the
    // plain decoding would (an escaped "/", "?", "#" or "%", a character the
    // document cannot carry), show those escapes as they are instead.
    std::string expected = to_stored_form(ansi_to_wide(stored));
    if (to_stored_form(display) == expected) return display;
    wide_url_record careful = r;
    careful.host = decode_for_display(wide_to_ansi(r.host), true);
    careful.path = map_segments(r.path, [](std::u16string_view segment) {
        return decode_for_display(wide_to_ansi(segment), false);
    });
    if (file) careful.path = escape_hashes(careful.path);
    std::u16string cautious = build_url(careful);
    if (to_stored_form(cautious) == expected) return cautious;
    return display;
}

std::string comparison_key(std::string_view stored) {
    std::string normal;
    url_record r = parse_url(stored);
    if (stored.empty() || r.scheme.empty()) {
        normal.assign(stored);
    } else {
        r.scheme = ascii_lower(r.scheme);
        if (is_web_scheme<char>(r.scheme)) {
            r.host = ascii_lower(r.host);
            if (r.path.empty()) r.path = "/";
        }
        r.fragment.clear();
        for (char& c : r.path) {
            if (c == '\\') c = '/';
        }
        while (!r.path.empty() && (r.path.back() == ' ' || r.path.back() == '\t'))
            r.path.pop_back();
        normal = build_url(r);
    }

    url_record n = parse_url(normal);
    if (n.scheme.empty()) {
        std::string key = Core_Platform::utf8_to_ansi(normal);
        return key.empty() ? normal : key;
    }
    n.host = decode_to_ansi(n.host);
    n.path = map_segments(n.path, [](std::string_view segment) { return decode_to_ansi(segment); });
    if (is_file_scheme<char>(n.scheme)) {
        std::string p;
        for (char c : n.path) {
            if (c == '#') {
                p += "%23";
            } else {
                p.push_back(c);
            }
        }
        n.path = std::move(p);
    }
    return build_url(n);
}

}  // namespace Core_ZorvaneMerge
