#include "platform/strings.h"

#include <gtest/gtest.h>

namespace Core_Platform {
namespace {

TEST(Utf8ToWide, DecodesAllLengths) {
    EXPECT_EQ(utf8_to_wide("a\xC3\xA9\xE2\x82\xAC"), u"a\u00e9\u20ac");
    EXPECT_EQ(utf8_to_wide(""), u"");
}

TEST(Utf8ToWide, InvalidSequenceEmptiesWholeResult) {
    EXPECT_EQ(utf8_to_wide("abc\xFF"), u"");
    EXPECT_EQ(utf8_to_wide("abc\xC3"), u"");           // truncated
    EXPECT_EQ(utf8_to_wide("\xC0\xAF"), u"");          // overlong '/'
    EXPECT_EQ(utf8_to_wide("\xE0\x80\xAF"), u"");      // overlong, three bytes
    EXPECT_EQ(utf8_to_wide("\xED\xA0\x80"), u"");      // encoded surrogate
    EXPECT_EQ(utf8_to_wide("\xF4\x90\x80\x80"), u"");  // above U+10FFFF
    EXPECT_EQ(utf8_to_wide("\xC3\x28"), u"");          // bad continuation
}

TEST(Utf8ToWide, NonXmlCodeUnitsBecomeUnderscore) {
    EXPECT_EQ(utf8_to_wide(std::string_view("a\0b", 3)), u"a_b");
    EXPECT_EQ(utf8_to_wide("\t\n\r\x01"), u"\t\n\r_");
    EXPECT_EQ(utf8_to_wide("\xEF\xBF\xBE\xEF\xBF\xBF"), u"__");  // U+FFFE, U+FFFF
    // A character outside the Basic Multilingual Plane is kept as its pair.
    EXPECT_EQ(utf8_to_wide("x\xF0\x9F\x98\x80y"), (std::u16string{u'x', 0xD83D, 0xDE00, u'y'}));
}

TEST(WideToUtf8, PairsAndLoneSurrogates) {
    std::u16string pair = {0xD83D, 0xDE00};
    EXPECT_EQ(wide_to_utf8(pair), "\xF0\x9F\x98\x80");
    std::u16string lone = {u'a', 0xD800, u'b'};
    EXPECT_EQ(wide_to_utf8(lone), "a_b");
    EXPECT_EQ(wide_to_utf8(std::u16string{0xDE00, 0xD83D}), "__") << "a pair the wrong way round";
    EXPECT_EQ(wide_to_utf8(u"\u00e9"), "\xC3\xA9");
}

TEST(AnsiCodePage, IsUtf8OnThisPlatform) {
    EXPECT_EQ(ansi_to_wide("\xC3\xA9"), u"\u00e9");
    EXPECT_EQ(wide_to_ansi(u"\u00e9"), "\xC3\xA9");
    EXPECT_EQ(ansi_to_utf8("ok\xFF"), "");
    EXPECT_EQ(utf8_to_ansi("x\x01"), "x_");
}

TEST(Hex, LowerCaseRoundTrip) {
    EXPECT_EQ(to_hex(std::string_view("\x00\xAB\x7F", 3)), "00ab7f");
    std::string out = "keep";
    EXPECT_FALSE(from_hex("abc", out));
    EXPECT_FALSE(from_hex("zz", out));
    EXPECT_EQ(out, "keep");
    EXPECT_TRUE(from_hex("00AbfF", out));
    EXPECT_EQ(out, std::string("\x00\xAB\xFF", 3));
    EXPECT_EQ(hex_digit_upper(0xA), 'A');
    EXPECT_EQ(hex_value('g'), -1);
}

TEST(AsciiLower, LeavesNonAsciiAlone) {
    EXPECT_EQ(ascii_lower("HeLLo\xC3\x89"), "hello\xC3\x89");
    EXPECT_EQ(ascii_lower(u"HTTP\u00C9"), u"http\u00C9");
}

// ---- The conversions against a plain reading of their rules ----

// Decodes code point by code point; any invalid sequence empties the result;
// non-XML code units become '_'.
std::u16string reference_utf8_to_wide(std::string_view in) {
    std::u16string out;
    std::size_t i = 0;
    while (i < in.size()) {
        const unsigned c = static_cast<unsigned char>(in[i]);
        std::uint32_t cp;
        std::size_t len;
        if (c < 0x80) {
            cp = c, len = 1;
        } else if (c >= 0xC2 && c <= 0xDF) {
            cp = c & 0x1F, len = 2;
        } else if ((c & 0xF0) == 0xE0) {
            cp = c & 0x0F, len = 3;
        } else if (c >= 0xF0 && c <= 0xF4) {
            cp = c & 0x07, len = 4;
        } else {
            return {};
        }
        if (i + len > in.size()) return {};
        for (std::size_t k = 1; k < len; ++k) {
            const unsigned cc = static_cast<unsigned char>(in[i + k]);
            if ((cc & 0xC0) != 0x80) return {};
            cp = (cp << 6) | (cc & 0x3F);
        }
        if ((len == 3 && cp < 0x800) || (len == 4 && cp < 0x10000) || cp > 0x10FFFF ||
            (cp >= 0xD800 && cp <= 0xDFFF))
            return {};
        if (cp >= 0x10000) {
            out.push_back(static_cast<char16_t>(0xD800 + ((cp - 0x10000) >> 10)));
            out.push_back(static_cast<char16_t>(0xDC00 + ((cp - 0x10000) & 0x3FF)));
        } else {
            out.push_back(is_xml_code_unit(static_cast<char16_t>(cp)) ? static_cast<char16_t>(cp)
                                                                      : u'_');
        }
        i += len;
    }
    return out;
}

std::string reference_wide_to_utf8(std::u16string_view in) {
    std::string out;
    auto put = [&](std::uint32_t cp) {
        if (cp < 0x80) {
            out += static_cast<char>(cp);
        } else if (cp < 0x800) {
            out += static_cast<char>(0xC0 | (cp >> 6));
            out += static_cast<char>(0x80 | (cp & 0x3F));
        } else if (cp < 0x10000) {
            out += static_cast<char>(0xE0 | (cp >> 12));
            out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (cp & 0x3F));
        } else {
            out += static_cast<char>(0xF0 | (cp >> 18));
            out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
            out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (cp & 0x3F));
        }
    };
    for (std::size_t i = 0; i < in.size(); ++i) {
        const std::uint32_t cu = in[i];
        const bool high = cu >= 0xD800 && cu <= 0xDBFF;
        if (high && i + 1 < in.size() && in[i + 1] >= 0xDC00 && in[i + 1] <= 0xDFFF) {
            put(0x10000 + ((cu - 0xD800) << 10) + (in[i + 1] - 0xDC00u));
            ++i;
        } else {
            put(cu >= 0xD800 && cu <= 0xDFFF ? u'_' : cu);
        }
    }
    return out;
}

TEST(Conversions, AgreeWithTheirRulesOnRandomText) {
    std::uint64_t state = 0x9e3779b97f4a7c15ull;
    auto next = [&] {
        state ^= state << 13;
        state ^= state >> 7;
        state ^= state << 17;
        return state;
    };
    // Pieces of every kind, valid and not.
    const std::string pieces[] = {"a",
                                  "Z ",
                                  "\t\n\r",
                                  std::string(1, '\0'),
                                  "\x01\x1f",
                                  "\x7f",
                                  "\xc3\xa9",
                                  "\xc2\x80",
                                  "\xdf\xbf",
                                  "\xe0\xa0\x80",
                                  "\xe2\x82\xac",
                                  "\xef\xbf\xbe",
                                  "\xef\xbf\xbf",
                                  "\xed\x9f\xbf",
                                  "\xed\xa0\x80",
                                  "\xf0\x9f\x98\x80",
                                  "\xf4\x8f\xbf\xbf",
                                  "\xf4\x90\x80\x80",
                                  "\xc0\xaf",
                                  "\xe0\x80\xaf",
                                  "\xff",
                                  "\xc3",
                                  "\xe2\x82",
                                  "\x80",
                                  "\xf8\x88\x80\x80\x80"};
    for (int round = 0; round < 20000; ++round) {
        std::string text;
        const std::size_t n = next() % 12;
        for (std::size_t i = 0; i < n; ++i) text += pieces[next() % std::size(pieces)];
        ASSERT_EQ(utf8_to_wide(text), reference_utf8_to_wide(text)) << to_hex(text);
        ASSERT_EQ(utf8_to_ansi(text), reference_wide_to_utf8(reference_utf8_to_wide(text)))
            << to_hex(text);
        ASSERT_EQ(ansi_to_utf8(text), utf8_to_ansi(text)) << to_hex(text);
        std::u16string wide;
        const std::size_t m = next() % 12;
        for (std::size_t i = 0; i < m; ++i) {
            const char16_t units[] = {u'a',   0x7F,   0x80,   0x7FF,  0x800,
                                      0xD7FF, 0xD800, 0xDBFF, 0xDC00, 0xDFFF,
                                      0xE000, 0xFFFD, 0xFFFF, 0,      0x09};
            wide.push_back(units[next() % std::size(units)]);
        }
        ASSERT_EQ(wide_to_utf8(wide), reference_wide_to_utf8(wide));
        ASSERT_EQ(wide_to_ansi(wide), reference_wide_to_utf8(wide));
    }
    // A long text too (the lengths are computed ahead).
    std::string long_text;
    for (int i = 0; i < 100000; ++i) long_text += pieces[i % 10];
    EXPECT_EQ(utf8_to_wide(long_text), reference_utf8_to_wide(long_text));
    const std::u16string long_wide = reference_utf8_to_wide(long_text);
    EXPECT_EQ(wide_to_utf8(long_wide), reference_wide_to_utf8(long_wide));
}

}  // namespace
}  // namespace Core_Platform
