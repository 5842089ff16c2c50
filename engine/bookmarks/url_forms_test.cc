#include "bookmarks/url_forms.h"

#include <gtest/gtest.h>

#include <random>

#include "bookmarks/url_forms_testing.h"
#include "platform/strings.h"

namespace Core_ZorvaneMerge {
namespace {

TEST(ParseUrl, AllParts) {
    url_record r = parse_url("http://u:p@H:8080/a/b?x=1#f");
    EXPECT_EQ(r.scheme, "http");
    EXPECT_EQ(r.separator, "//");
    EXPECT_EQ(r.user, "u");
    EXPECT_EQ(r.password, "p");
    EXPECT_EQ(r.host, "H");
    EXPECT_EQ(r.port, 8080);
    EXPECT_EQ(r.path, "/a/b");
    EXPECT_EQ(r.query, "x=1");
    EXPECT_EQ(r.fragment, "#f");
    EXPECT_EQ(build_url(r), "http://u:p@H:8080/a/b?x=1#f");

    wide_url_record w = parse_url(u"http://u:p@H:8080/a/b?x=1#f");
    EXPECT_EQ(w.user, u"u");
    EXPECT_EQ(w.port, 8080);
    EXPECT_EQ(build_url(w), u"http://u:p@H:8080/a/b?x=1#f");
}

TEST(ParseUrl, Ports) {
    EXPECT_EQ(build_url(parse_url("http://h:80/x")), "http://h/x");
    EXPECT_EQ(build_url(parse_url("http://h:443/x")), "http://h:443/x");
    EXPECT_EQ(build_url(parse_url("https://h:443/x")), "https://h/x");
    url_record big = parse_url("http://h:65536/x");
    EXPECT_EQ(big.host, "h");
    EXPECT_EQ(big.port, 0);
    EXPECT_EQ(build_url(big), "http://h/x");
    EXPECT_EQ(parse_url("http://h:99999999999999999999/").port, 0);
    url_record letters = parse_url("http://h:80a/x");
    EXPECT_EQ(letters.host, "h:80a");
    EXPECT_EQ(letters.port, 80);
    url_record empty = parse_url("http://h:/x");
    EXPECT_EQ(empty.host, "h:");
    EXPECT_EQ(parse_url("ftp://h/").port, 21);
    EXPECT_EQ(parse_url("HTTPS://h/").port, 443);
    EXPECT_EQ(parse_url("gopher://h/").port, 0);
}

TEST(ParseUrl, QueryAndFragmentOrder) {
    url_record r = parse_url("http://h/p#frag?notquery");
    EXPECT_EQ(r.path, "/p");
    EXPECT_EQ(r.query, "");
    EXPECT_EQ(r.fragment, "#frag?notquery");
    url_record q = parse_url("http://h/p?q#f");
    EXPECT_EQ(q.query, "q");
    EXPECT_EQ(q.fragment, "#f");
    EXPECT_EQ(parse_url("http://h?q").host, "h");
    EXPECT_EQ(parse_url("http://h#f").fragment, "#f");
}

TEST(ParseUrl, SchemeWithoutSlashes) {
    url_record r = parse_url("mailto:someone@example.com");
    EXPECT_EQ(r.scheme, "mailto");
    EXPECT_EQ(r.separator, "");
    EXPECT_EQ(r.user, "someone");
    EXPECT_EQ(r.host, "example.com");
    EXPECT_EQ(r.path, "");
    EXPECT_EQ(build_url(r), "mailto:someone@example.com");
    url_record j = parse_url("javascript:void(0)");
    EXPECT_EQ(j.host, "void(0)");
    EXPECT_EQ(build_url(j), "javascript:void(0)");
}

TEST(ParseUrl, NoSchemeWhenColonAfterQuestionMark) {
    url_record r = parse_url("path?x=a:b");
    EXPECT_EQ(r.scheme, "");
    EXPECT_EQ(to_stored_form(u"path?x=a:b"), "path?x=a:b");
    EXPECT_EQ(to_display_form("path?x=a:b"), u"path?x=a:b");
    EXPECT_EQ(comparison_key("Path?X"), "Path?X");
}

TEST(ParseUrl, FileAddresses) {
    url_record r = parse_url("file:///C:/dir/a#b?c");
    EXPECT_EQ(r.host, "");
    EXPECT_EQ(r.path, "/C:/dir/a#b?c");
    EXPECT_EQ(r.query, "");
    EXPECT_EQ(r.fragment, "");
    url_record h = parse_url("file://server\\share\\x");
    EXPECT_EQ(h.host, "server");
    EXPECT_EQ(h.path, "\\share\\x");
    EXPECT_EQ(to_display_form("file:///tmp/a%23b"), u"file:///tmp/a%23b");
}

TEST(BuildUrl, PathAndSpaces) {
    url_record r;
    r.scheme = "http";
    r.host = "h";
    r.path = "./x";
    EXPECT_EQ(build_url(r), "http://h/x");
    r.path = "x";
    EXPECT_EQ(build_url(r), "http://h/x");
    r.query = "a b";
    r.fragment = "#c d";
    EXPECT_EQ(build_url(r), "http://h/x?a%20b#c%20d");
}

TEST(PercentDecode, Escapes) {
    EXPECT_EQ(percent_decode("a%41%4a%4A"), "aAJJ");
    EXPECT_EQ(percent_decode("%e2%82%ac"), "\xE2\x82\xAC");
    EXPECT_EQ(percent_decode(""), "");
}

// A "%" that does not start an escape is text: dropping it, or turning it
// into a control byte, would change the address of a bookmark such as
// ".../50%off" or ".../100%".
TEST(PercentDecode, LonePercentSignsSurvive) {
    EXPECT_EQ(percent_decode("50%off"), "50%off");
    EXPECT_EQ(percent_decode("100%"), "100%");
    EXPECT_EQ(percent_decode("x%4"), "x%4");
    EXPECT_EQ(percent_decode("%%41"), "%A");
    EXPECT_EQ(to_stored_form(u"http://h/50%off"), "http://h/50%25off");
    EXPECT_EQ(to_display_form("http://h/50%25off"), u"http://h/50%off");
}

TEST(Encoders, AllowedCharacters) {
    EXPECT_EQ(encode_host("a-._~!$&'()*+,;=Z9"), "a-._~!$&'()*+,;=Z9");
    EXPECT_EQ(encode_host("a b:@/"), "a%20b%3A%40%2F");
    EXPECT_EQ(encode_path_segment("a-._~!$&()*+,;=:@"), "a-._~!$&()*+,;=:@");
    EXPECT_EQ(encode_path_segment("it's here"), "it%27s%20here");
    EXPECT_EQ(encode_path_segment("\xC3\xA9"), "%C3%A9");
    EXPECT_EQ(encode_path_segment(std::string_view("\0", 1)), "%00");
}

TEST(StoredForm, EncodesHostAndPathSegments) {
    EXPECT_EQ(to_stored_form(u"http://Bücher.example/a b/it's"),
              "http://B%C3%BCcher.example/a%20b/it%27s");
    EXPECT_EQ(to_stored_form(u"http://h/%7Euser//x\\y"), "http://h/~user//x\\y");
    EXPECT_EQ(to_stored_form(u"http://h/caf%C3%A9?q=é#é"),
              "http://h/caf%C3%A9?q=\xC3\xA9#\xC3\xA9");
    EXPECT_EQ(to_stored_form(u"plain text é"), "plain text \xC3\xA9");
    const std::string stored = "http://B%C3%BCcher.example/a%20b/it%27s";
    EXPECT_EQ(to_stored_form(to_display_form(stored)), stored);
}

TEST(DisplayForm, DecodesHostAndPath) {
    EXPECT_EQ(to_display_form("http://B%C3%BCcher.example/a%20b/it%27s"),
              u"http://Bücher.example/a b/it's");
    EXPECT_EQ(to_display_form("http://u%20x@h/p?a%20b#c"), u"http://u%20x@h/p?a%20b#c");
    // Escapes that are not UTF-8: shown as written.
    EXPECT_EQ(to_display_form("http://h/%E9t%E9"), u"http://h/%E9t%E9");
    EXPECT_EQ(to_display_form("no scheme \xC3\xA9"), u"no scheme é");
}

// Decoding for display must never change the address the document gives
// back: escaped separators, "?", "#" and "%" stay escaped, and so do
// characters a document cannot carry.
TEST(DisplayForm, KeepsEscapesThatWouldChangeTheAddress) {
    for (const char* stored :
         {"http://h/a%2Fb", "http://h/what%3F", "http://h/x%23y", "http://h/100%2541",
          "http://h/a%5Cb", "http://h/a%01b", "http://h/%F0%9F%98%80", "http://a%40b/",
          "http://h%3A80/", "http://h/%EF%BF%BE"}) {
        std::u16string display = to_display_form(stored);
        EXPECT_EQ(to_stored_form(display), stored) << stored;
    }
    EXPECT_EQ(to_display_form("http://h/a%2Fb%C3%A9"), u"http://h/a%2Fbé");
}

TEST(DisplayForm, RoundTripProperty) {
    const std::uint64_t seed = 20261209;
    std::mt19937_64 rng(seed);
    const std::u16string alphabet = u"aZ09/\\?#%:@!$&'()*+,;=~-._ é€\u00A0\u4E2D%2F%41%zz";
    for (int n = 0; n < 3000; ++n) {
        std::u16string text = n % 2 ? u"http://" : u"https://u:p@";
        std::size_t length = rng() % 24;
        for (std::size_t i = 0; i < length; ++i) text.push_back(alphabet[rng() % alphabet.size()]);
        std::string stored = to_stored_form(text);
        ASSERT_EQ(to_stored_form(Core_ZorvaneMerge::to_display_form(stored)), stored)
            << "seed " << seed << " case " << n;
    }
}

// An empty host followed by a path that starts with "//" builds into text
// that reads back with a separator; the stored form is the one that reads
// back as itself, so documents keep their addresses.
TEST(StoredForm, MalformedAddressTakesItsStableForm) {
    std::string stored = to_stored_form(u"x:@//a:@h");
    EXPECT_EQ(stored, "x://a@h");
    EXPECT_EQ(to_stored_form(Core_Platform::ansi_to_wide(stored)), stored);
    EXPECT_EQ(to_stored_form(to_display_form(stored)), stored);
}

TEST(ComparisonKey, CaseRules) {
    EXPECT_EQ(comparison_key("HTTP://WWW.Example.COM"), comparison_key("http://www.example.com/"));
    EXPECT_NE(comparison_key("http://h/Path"), comparison_key("http://h/path"));
    EXPECT_NE(comparison_key("http://h/p?Q"), comparison_key("http://h/p?q"));
    EXPECT_EQ(comparison_key("http://h/p#one"), comparison_key("http://h/p#two"));
    EXPECT_EQ(comparison_key("http://h:80/p"), comparison_key("http://h/p"));
    EXPECT_EQ(comparison_key("http://h\\a\\b"), comparison_key("http://h/a/b"));
    EXPECT_EQ(comparison_key("http://h/p  \t"), comparison_key("http://h/p"));
    EXPECT_EQ(comparison_key("http://h/%7Ea"), comparison_key("http://h/~a"));
    EXPECT_EQ(comparison_key("http://h/caf%C3%A9"), "http://h/caf\xC3\xA9");
    // Only web addresses ignore the case of the host.
    EXPECT_NE(comparison_key("gopher://H/"), comparison_key("gopher://h/"));
    EXPECT_EQ(comparison_key("GOPHER://h/x"), comparison_key("gopher://h/x"));
    EXPECT_EQ(comparison_key(""), "");
    EXPECT_EQ(comparison_key("file:///a%23b"), "file:///a%23b");
}

// ---- The shortcut for plain addresses ----

TEST(PlainAddresses, AreTheirOwnStoredAndDisplayForms) {
    std::mt19937_64 rng(0xadd7e55);
    auto pick = [&](std::size_t n) { return static_cast<std::size_t>(rng() % n); };
    const std::string schemes[] = {"http",  "https",   "HTTP",   "ftp", "file", "FiLe",
                                   "place", "x+y.z-w", "mailto", "",    "h t",  "1a"};
    const std::string seps[] = {"://", ":/", ":", "//", ":///"};
    const std::string hosts[] = {
        "example.org",          "a-b.c_d~e",   "",      "user@host", "h:8080",      "h:80",  "h:",
        "Ex!$&'()*+,;=",        "b%C3%BCcher", "h%2Fx", "h h",       "b\u00fccher", "[::1]", "h#",
        "xn--bcher-kva.example"};
    const std::string path_parts[] = {"",        "/",    "/a",    "/a/b.html", "/:@!$&()*+,;=-._~",
                                      "/it's",   "/%41", "/a b",  "\\x",       "/./x",
                                      "/\u65e5", "/..",  "/a;b=c"};
    const std::string queries[] = {"",       "?",    "?q=1",  "?a=1&b=2",  "?q=a b",
                                   "?q=%20", "?x?y", "?q=\\", "?q=\u00e9", "?#"};
    const std::string fragments[] = {"", "#", "#top", "#a b", "#a#b?c", "#%41", "#x\\y"};
    std::size_t plain = 0, other = 0;
    for (int round = 0; round < 30000; ++round) {
        // Every other address from the parts that keep an address plain,
        // with one character of any kind put in now and then.
        const bool mostly_plain = round % 2 == 0;
        auto part = [&](const auto& list, std::size_t plain_ones) {
            return list[pick(mostly_plain ? plain_ones : std::size(list))];
        };
        std::string text = part(schemes, 4) + (mostly_plain ? "://" : part(seps, 0)) +
                           part(hosts, 3) + part(path_parts, 5) + part(queries, 4) +
                           part(fragments, 3);
        if (pick(10) == 0 && !text.empty()) text.erase(pick(text.size()), 1);
        if (pick(4) == 0) {
            static const char kAny[] = " %\\:@?#/'!~^\"<>{}|`[]\x7f\x01";
            text.insert(pick(text.size() + 1), 1, kAny[pick(sizeof kAny - 1)]);
        }
        const std::u16string wide = Core_Platform::utf8_to_wide(text);
        const std::string stored = to_stored_form_in_full(wide);
        ASSERT_EQ(to_stored_form(wide), stored) << text;
        ASSERT_EQ(to_display_form(stored), to_display_form_in_full(stored)) << text;
        ASSERT_EQ(to_display_form(text), to_display_form_in_full(text)) << text;
        if (is_plain_address(wide)) {
            ++plain;
            const std::string narrow = Core_Platform::wide_to_utf8(wide);
            ASSERT_EQ(stored, narrow) << text;
            ASSERT_TRUE(is_plain_address(narrow));
            ASSERT_EQ(to_display_form_in_full(narrow), wide) << text;
        } else {
            ++other;
        }
    }
    // Both kinds came up often.
    EXPECT_GT(plain, 5000u);
    EXPECT_GT(other, 10000u);
}

}  // namespace
}  // namespace Core_ZorvaneMerge
