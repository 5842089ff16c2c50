#include "xpcom/ns_id.h"

#include <gtest/gtest.h>

#include <cstring>

#include "xpcom/ns_isupports.h"

namespace {

constexpr nsID kSample = ns_id_literal("{D07F5192-E3D1-11D2-8ACD-00105A1B8860}");

std::string format(const nsID& id) {
    char text[NSID_LENGTH];
    id.ToProvidedString(text);
    return text;
}

TEST(NsId, LiteralFillsTheFieldsInTextOrder) {
    EXPECT_EQ(kSample.m0, 0xD07F5192u);
    EXPECT_EQ(kSample.m1, 0xE3D1u);
    EXPECT_EQ(kSample.m2, 0x11D2u);
    const std::uint8_t bytes[8] = {0x8A, 0xCD, 0x00, 0x10, 0x5A, 0x1B, 0x88, 0x60};
    EXPECT_EQ(std::memcmp(kSample.m3, bytes, 8), 0);
    EXPECT_EQ(sizeof(nsID), 16u);
}

TEST(NsId, FormatsLowerCaseWithBraces) {
    EXPECT_EQ(format(kSample), "{d07f5192-e3d1-11d2-8acd-00105a1b8860}");
    EXPECT_EQ(format(NS_ISUPPORTS_IID), "{00000000-0000-0000-c000-000000000046}");
}

TEST(NsId, ParsesEitherCaseWithOrWithoutBraces) {
    nsID id{};
    ASSERT_TRUE(id.Parse("{d07f5192-e3d1-11d2-8acd-00105a1b8860}"));
    EXPECT_TRUE(id.Equals(kSample));
    nsID bare{};
    ASSERT_TRUE(bare.Parse("D07F5192-E3D1-11D2-8ACD-00105A1B8860"));
    EXPECT_TRUE(bare == kSample);
}

TEST(NsId, RoundTripsThroughText) {
    const nsID original{0x01234567, 0x89AB, 0xCDEF, {0, 1, 2, 3, 0xFC, 0xFD, 0xFE, 0xFF}};
    nsID back{};
    ASSERT_TRUE(back.Parse(format(original).c_str()));
    EXPECT_TRUE(back.Equals(original));
}

TEST(NsId, RefusesMalformedTextAndKeepsTheValue) {
    const char* bad[] = {
        nullptr,
        "",
        "{d07f5192-e3d1-11d2-8acd-00105a1b8860",    // one brace
        "d07f5192-e3d1-11d2-8acd-00105a1b8860}",    // the other
        "{d07f5192-e3d1-11d2-8acd-00105a1b886}",    // short
        "{d07f5192-e3d1-11d2-8acd-00105a1b88600}",  // long
        "{d07f5192xe3d1-11d2-8acd-00105a1b8860}",   // dash replaced
        "{d07f5192-e3d1-11d2-8acd0-0105a1b8860}",   // dash moved
        "{g07f5192-e3d1-11d2-8acd-00105a1b8860}",   // not hex
        "{d07f5192-e3d1-11d2-8acd-00105a1b886 }",
    };
    for (const char* text : bad) {
        nsID id = kSample;
        EXPECT_FALSE(id.Parse(text)) << (text != nullptr ? text : "(null)");
        EXPECT_TRUE(id.Equals(kSample));
    }
}

TEST(NsId, EqualsComparesEveryByte) {
    for (int i = 0; i < 16; ++i) {
        nsID other = kSample;
        reinterpret_cast<unsigned char*>(&other)[i] ^= 0x01;
        EXPECT_FALSE(other.Equals(kSample)) << "byte " << i;
    }
}

}  // namespace
