#include "platform/resource_usage.h"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>

namespace Core_Platform {
namespace {

TEST(PeakResident, GrowsWhenMemoryIsTouched) {
    const std::uint64_t before = peak_resident_bytes();
    EXPECT_GT(before, 0u);
    const std::size_t size = 64u << 20;
    std::unique_ptr<char[]> block(new char[size]);
    std::memset(block.get(), 1, size);
    EXPECT_GE(peak_resident_bytes(), before + size / 2);
    EXPECT_EQ(block[size - 1], 1);
}

}  // namespace
}  // namespace Core_Platform
