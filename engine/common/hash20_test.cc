#include "common/hash20.h"

#include <gtest/gtest.h>

namespace Core_Common {
namespace {

TEST(Hash20, StartsAsTwentyZeroBytes) {
    hash20 h;
    EXPECT_TRUE(h.is_zero());
    EXPECT_EQ(h.to_bytes(), std::string(20, '\0'));
    EXPECT_EQ(h.to_hex(), std::string(40, '0'));
}

TEST(Hash20, RawAndTextForms) {
    std::string raw;
    for (int i = 0; i < 20; ++i) raw.push_back(static_cast<char>(0xA0 + i));
    hash20 h;
    ASSERT_TRUE(hash20::from_bytes(raw, h));
    EXPECT_FALSE(h.is_zero());
    EXPECT_EQ(h.to_bytes(), raw);
    EXPECT_EQ(h.to_hex(), "a0a1a2a3a4a5a6a7a8a9aaabacadaeafb0b1b2b3");
    EXPECT_EQ(h.to_hex(true), "A0A1A2A3A4A5A6A7A8A9AAABACADAEAFB0B1B2B3");
    EXPECT_EQ(hash20(raw.data()), h);
}

TEST(Hash20, FromBytesNeedsExactlyTwenty) {
    hash20 h;
    EXPECT_FALSE(hash20::from_bytes(std::string(19, 'x'), h));
    EXPECT_FALSE(hash20::from_bytes(std::string(21, 'x'), h));
    EXPECT_TRUE(h.is_zero());
}

}  // namespace
}  // namespace Core_Common
