#include "common/big_endian.h"

#include <gtest/gtest.h>

namespace Core_Common {
namespace {

TEST(BigEndian, WritesMostSignificantFirstAndReadsBack) {
    std::string out;
    put_be(out, 0x0102, 2);
    put_be(out, 0xFEDCBA98u, 4);
    put_be(out, 0x8000000000000001ull, 8);
    // Only the low bytes of a wider value are written.
    put_be(out, 0x1234, 1);
    EXPECT_EQ(out, std::string("\x01\x02\xFE\xDC\xBA\x98\x80\x00\x00\x00\x00\x00\x00\x01\x34", 15));
    EXPECT_EQ(get_be(out, 0, 2), 0x0102u);
    EXPECT_EQ(get_be(out, 2, 4), 0xFEDCBA98u);
    EXPECT_EQ(get_be(out.data() + 6, 8), 0x8000000000000001ull);
    EXPECT_EQ(get_be(out, 14, 1), 0x34u);
}

}  // namespace
}  // namespace Core_Common
