#include "common/crc32.h"

#include <gtest/gtest.h>

#include <random>
#include <string>

namespace Core_Common {
namespace {

TEST(Crc32, KnownValues) {
    EXPECT_EQ(crc32_update(0, "", 0), 0u);
    EXPECT_EQ(crc32_update(0, "123456789", 9), 0xCBF43926u);
    const std::string zeros(4096, '\0');
    EXPECT_EQ(crc32_update(0, zeros.data(), zeros.size()),
              crc32_reference(0, zeros.data(), zeros.size()));
}

// The folding path against zlib over every length up to a few blocks, odd
// offsets, and continuation from a running value; the seed is fixed.
TEST(Crc32, AgreesWithZlibForEveryLengthOffsetAndStart) {
    std::mt19937 rng(4242);
    std::string data(70000, '\0');
    for (auto& c : data) c = static_cast<char>(rng());
    for (std::size_t offset = 0; offset < 16; offset += 3) {
        for (std::size_t length = 0; length <= 600; ++length) {
            const std::uint32_t start = length % 2 == 0 ? 0u : static_cast<std::uint32_t>(rng());
            ASSERT_EQ(crc32_update(start, data.data() + offset, length),
                      crc32_reference(start, data.data() + offset, length))
                << "offset " << offset << " length " << length;
        }
    }
    for (std::size_t length : {4095u, 4096u, 65536u, 69999u}) {
        EXPECT_EQ(crc32_update(0, data.data() + 1, length),
                  crc32_reference(0, data.data() + 1, length));
    }
    // Split anywhere, the running value carries over.
    const std::uint32_t whole = crc32_update(0, data.data(), data.size());
    for (std::size_t cut : {1u, 63u, 64u, 1000u, 69000u}) {
        const std::uint32_t first = crc32_update(0, data.data(), cut);
        EXPECT_EQ(crc32_update(first, data.data() + cut, data.size() - cut), whole) << cut;
    }
}

}  // namespace
}  // namespace Core_Common
