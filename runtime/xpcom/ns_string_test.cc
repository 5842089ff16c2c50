#include "xpcom/ns_string.h"

#include <gtest/gtest.h>

#include <cstring>

#include "xpcom/ns_memory.h"

namespace {

std::u16string text_of(const nsAString& s) {
    const char16_t* data = nullptr;
    const std::uint32_t n = NS_StringGetData(s, &data);
    return std::u16string(data, n);
}

std::string text_of(const nsACString& s) {
    const char* data = nullptr;
    const std::uint32_t n = NS_CStringGetData(s, &data);
    return std::string(data, n);
}

TEST(StringContainer, StartsEmptyAndTerminated) {
    nsCStringContainer c;
    ASSERT_EQ(NS_CStringContainerInit(c), NS_OK);
    const char* data = nullptr;
    bool terminated = false;
    EXPECT_EQ(NS_CStringGetData(c, &data, &terminated), 0u);
    ASSERT_NE(data, nullptr);
    EXPECT_EQ(*data, '\0');
    EXPECT_TRUE(terminated);
    NS_CStringContainerFinish(c);
}

TEST(StringContainer, Init2CopiesByDefault) {
    char buffer[] = "abc";
    nsCStringContainer c;
    ASSERT_EQ(NS_CStringContainerInit2(c, buffer), NS_OK);
    buffer[0] = 'x';
    EXPECT_EQ(text_of(c), "abc");
    const char* data = nullptr;
    NS_CStringGetData(c, &data);
    EXPECT_NE(data, buffer);
    NS_CStringContainerFinish(c);
}

TEST(StringContainer, Init2WithLengthTakesAPrefix) {
    nsStringContainer c;
    ASSERT_EQ(NS_StringContainerInit2(c, u"hello", 2), NS_OK);
    bool terminated = false;
    const char16_t* data = nullptr;
    EXPECT_EQ(NS_StringGetData(c, &data, &terminated), 2u);
    EXPECT_TRUE(terminated);
    EXPECT_EQ(data[2], u'\0');
    EXPECT_EQ(text_of(c), u"he");
    NS_StringContainerFinish(c);
}

TEST(StringContainer, DependentSubstringUsesTheCallersBuffer) {
    const char buffer[] = "hello world";
    nsCStringContainer c;
    ASSERT_EQ(
        NS_CStringContainerInit2(
            c, buffer, 5, NS_CSTRING_CONTAINER_INIT_DEPEND | NS_CSTRING_CONTAINER_INIT_SUBSTRING),
        NS_OK);
    const char* data = nullptr;
    bool terminated = true;
    EXPECT_EQ(NS_CStringGetData(c, &data, &terminated), 5u);
    EXPECT_EQ(data, buffer);
    EXPECT_FALSE(terminated);
    // Setting data on a dependent string makes it own a copy.
    ASSERT_EQ(NS_CStringSetData(c, "xyz"), NS_OK);
    EXPECT_EQ(text_of(c), "xyz");
    EXPECT_STREQ(buffer, "hello world");
    NS_CStringContainerFinish(c);
}

TEST(StringContainer, AdoptTakesOverAnAllocatedBuffer) {
    auto* buffer = static_cast<char*>(NS_Alloc(4));
    std::memcpy(buffer, "own", 4);
    nsCStringContainer c;
    ASSERT_EQ(NS_CStringContainerInit2(c, buffer, NS_STRING_WHOLE, NS_CSTRING_CONTAINER_INIT_ADOPT),
              NS_OK);
    const char* data = nullptr;
    NS_CStringGetData(c, &data);
    EXPECT_EQ(data, buffer);
    NS_CStringContainerFinish(c);  // frees the buffer: the leak checker would tell
}

TEST(StringContainer, SetDataFromItsOwnTextIsSafe) {
    nsString s(u"abcdef");
    const char16_t* data = nullptr;
    NS_StringGetData(s, &data);
    ASSERT_EQ(NS_StringSetData(s, data + 2, 3), NS_OK);
    EXPECT_EQ(s.view(), u"cde");
    ASSERT_EQ(NS_StringSetData(s, nullptr), NS_OK);
    EXPECT_EQ(s.view(), u"");
}

TEST(StringContainer, MutableDataGrowsShrinksAndOwnsItsBuffer) {
    nsString s(u"abcdef");
    char16_t* data = nullptr;
    ASSERT_EQ(NS_StringGetMutableData(s, 8, &data), 8u);
    ASSERT_NE(data, nullptr);
    EXPECT_EQ(std::u16string_view(data, 6), u"abcdef") << "the text that fits is kept";
    data[6] = u'g';
    data[7] = u'h';
    EXPECT_EQ(s.view(), u"abcdefgh");
    ASSERT_EQ(NS_StringGetMutableData(s, 3, &data), 3u);
    EXPECT_EQ(data[3], u'\0') << "a shorter text is terminated";
    EXPECT_EQ(s.view(), u"abc");
    ASSERT_EQ(NS_StringGetMutableData(s, NS_STRING_WHOLE, &data), 3u);
    EXPECT_EQ(s.view(), u"abc");

    // A string that depends on the caller's text gets a buffer of its own.
    const char16_t outside[] = u"xyz";
    nsStringContainer c;
    ASSERT_EQ(NS_StringContainerInit2(c, outside, 3, NS_STRING_CONTAINER_INIT_DEPEND), NS_OK);
    ASSERT_EQ(NS_StringGetMutableData(c, 3, &data), 3u);
    EXPECT_NE(data, outside);
    data[0] = u'X';
    EXPECT_EQ(std::u16string_view(outside), u"xyz");
    const char16_t* read = nullptr;
    EXPECT_EQ(std::u16string_view(read, NS_StringGetData(c, &read)), u"Xyz");
    EXPECT_EQ(NS_StringGetMutableData(c, 0, &data), 0u);
    EXPECT_EQ(NS_StringGetData(c, &read), 0u);
    NS_StringContainerFinish(c);
}

TEST(StringContainer, FinishedContainerReadsAsEmpty) {
    nsCStringContainer c;
    NS_CStringContainerInit2(c, "abc");
    NS_CStringContainerFinish(c);
    const char* data = nullptr;
    EXPECT_EQ(NS_CStringGetData(c, &data), 0u);
    EXPECT_STREQ(data, "");
}

TEST(StringConversion, Utf16ToUtf8) {
    nsString wide(u"A\u00e9\u20ac\U0001F600");
    nsCString narrow;
    ASSERT_EQ(NS_UTF16ToCString(wide, NS_CSTRING_ENCODING_UTF8, narrow), NS_OK);
    EXPECT_EQ(narrow.view(), "A\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80");
}

TEST(StringConversion, UnpairedSurrogatesBecomeReplacementCharacters) {
    const char16_t odd[] = {u'a', 0xD800, u'b', 0xDC00, 0};
    nsString wide{std::u16string_view(odd)};
    nsCString narrow;
    ASSERT_EQ(NS_UTF16ToCString(wide, NS_CSTRING_ENCODING_UTF8, narrow), NS_OK);
    EXPECT_EQ(narrow.view(),
              "a\xEF\xBF\xBD"
              "b\xEF\xBF\xBD");
}

TEST(StringConversion, Utf16ToUtf8ReplacesTheOldTextWhateverItsStorage) {
    // Into a container that depends on the caller's text: the text is left
    // alone and the container takes the converted text.
    char caller[] = "caller's";
    nsCStringContainer narrow;
    NS_CStringContainerInit2(narrow, caller, NS_STRING_WHOLE, NS_CSTRING_CONTAINER_INIT_DEPEND);
    const char16_t tail_high[] = {u'x', 0xD83D, 0};
    nsString wide{std::u16string_view(tail_high)};
    ASSERT_EQ(NS_UTF16ToCString(wide, NS_CSTRING_ENCODING_UTF8, narrow), NS_OK);
    const char* data = nullptr;
    bool terminated = false;
    const std::uint32_t n = NS_CStringGetData(narrow, &data, &terminated);
    EXPECT_EQ(std::string_view(data, n), "x\xEF\xBF\xBD");
    EXPECT_TRUE(terminated);
    EXPECT_STREQ(caller, "caller's");
    // A long text, and then an empty one.
    std::u16string many;
    for (int i = 0; i < 100000; ++i) many += u"a\u00e9\u20ac\U0001F600";
    ASSERT_EQ(NS_UTF16ToCString(nsString(many), NS_CSTRING_ENCODING_UTF8, narrow), NS_OK);
    EXPECT_EQ(NS_CStringGetData(narrow, &data), 100000u * 10u);
    EXPECT_EQ(std::string_view(data, 10), "a\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80");
    ASSERT_EQ(NS_UTF16ToCString(nsString(), NS_CSTRING_ENCODING_UTF8, narrow), NS_OK);
    EXPECT_EQ(NS_CStringGetData(narrow, &data), 0u);
    EXPECT_STREQ(data, "");
    NS_CStringContainerFinish(narrow);
}

TEST(StringConversion, AsciiMarksWhatItCannotCarry) {
    nsString wide(u"caf\u00e9 \u0141");
    nsCString narrow;
    ASSERT_EQ(NS_UTF16ToCString(wide, NS_CSTRING_ENCODING_ASCII, narrow), NS_OK);
    // Not the low byte of each code unit: that would turn U+0141 into 'A'.
    EXPECT_EQ(narrow.view(), "caf? ?");
    nsCString bytes(std::string_view("ok\xE9"));
    nsString back;
    ASSERT_EQ(NS_CStringToUTF16(bytes, NS_CSTRING_ENCODING_ASCII, back), NS_OK);
    EXPECT_EQ(back.view(), u"ok\uFFFD");
}

TEST(StringConversion, Utf8ToUtf16) {
    nsCString narrow(std::string_view("A\xC3\xA9\xF0\x9F\x98\x80"));
    nsString wide;
    ASSERT_EQ(NS_CStringToUTF16(narrow, NS_CSTRING_ENCODING_UTF8, wide), NS_OK);
    EXPECT_EQ(wide.view(), u"A\u00e9\U0001F600");
}

TEST(StringConversion, InvalidUtf8BecomesOneReplacementPerBadPart) {
    struct Case {
        std::string_view in;
        std::u16string_view out;
    } cases[] = {
        {"a\x80"
         "b",
         u"a\uFFFDb"},                                      // stray continuation byte
        {"\xC0\xAF", u"\uFFFD\uFFFD"},                      // overlong lead
        {"\xE2\x82", u"\uFFFD"},                            // truncated at the end
        {"\xE2\x82x", u"\uFFFDx"},                          // truncated in the middle
        {"\xED\xA0\x80", u"\uFFFD\uFFFD\uFFFD"},            // encoded surrogate
        {"\xF4\x90\x80\x80", u"\uFFFD\uFFFD\uFFFD\uFFFD"},  // above U+10FFFF
    };
    for (const Case& c : cases) {
        nsCString narrow(c.in);
        nsString wide;
        ASSERT_EQ(NS_CStringToUTF16(narrow, NS_CSTRING_ENCODING_UTF8, wide), NS_OK);
        EXPECT_EQ(wide.view(), c.out);
    }
}

TEST(StringConversion, UnknownEncodingLeavesTheDestination) {
    nsString wide(u"x");
    nsCString narrow(std::string_view("keep"));
    EXPECT_EQ(NS_UTF16ToCString(wide, static_cast<nsCStringEncoding>(7), narrow),
              NS_ERROR_INVALID_ARG);
    EXPECT_EQ(narrow.view(), "keep");
    EXPECT_EQ(NS_CStringToUTF16(narrow, static_cast<nsCStringEncoding>(7), wide),
              NS_ERROR_INVALID_ARG);
    EXPECT_EQ(wide.view(), u"x");
}

}  // namespace
