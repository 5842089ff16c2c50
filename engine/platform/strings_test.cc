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
    EXPECT_EQ(utf8_to_wide("abc\xC3"), u"");            // truncated
    EXPECT_EQ(utf8_to_wide("\xC0\xAF"), u"");           // overlong '/'
    EXPECT_EQ(utf8_to_wide("\xE0\x80\xAF"), u"");       // overlong, three bytes
    EXPECT_EQ(utf8_to_wide("\xED\xA0\x80"), u"");       // encoded surrogate
    EXPECT_EQ(utf8_to_wide("\xF4\x90\x80\x80"), u"");   // above U+10FFFF
    EXPECT_EQ(utf8_to_wide("\xC3\x28"), u"");           // bad continuation
}

TEST(Utf8ToWide, NonXmlCodeUnitsBecomeUnderscore) {
    EXPECT_EQ(utf8_to_wide(std::string_view("a\0b", 3)), u"a_b");
    EXPECT_EQ(utf8_to_wide("\t\n\r\x01"), u"\t\n\r_");
    EXPECT_EQ(utf8_to_wide("\xEF\xBF\xBE\xEF\xBF\xBF"), u"__");       // U+FFFE, U+FFFF
    EXPECT_EQ(utf8_to_wide("x\xF0\x9F\x98\x80y"), u"x__y");          // outside the BMP
}

TEST(WideToUtf8, PairsAndLoneSurrogates) {
    std::u16string pair = {0xD83D, 0xDE00};
    EXPECT_EQ(wide_to_utf8(pair), "\xF0\x9F\x98\x80");
    std::u16string lone = {u'a', 0xD800, u'b'};
    EXPECT_EQ(wide_to_utf8(lone), "a\xEF\xBF\xBD" "b");
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

}  // namespace
}  // namespace Core_Platform
