#include "common/page_block.h"

#include <gtest/gtest.h>

#include <cstring>
#include <utility>

#include "common/pool_block.h"

namespace Core_Common {
namespace {

TEST(PageBlock, SizesRoundUpToWholePagesAndMemoryReturnsOnDestruction) {
    const pool_block_stats_t before = pool_block_stats();
    {
        page_block_t one("session buffer", 1);
        page_block_t two("session buffer", 4097);
        page_block_t large("socket buffer", 70000);
        EXPECT_EQ(one.size(), 4096u);
        EXPECT_EQ(two.size(), 8192u);
        EXPECT_EQ(large.size(), 73728u);
        EXPECT_STREQ(one.name(), "session buffer");
        std::memset(two.data(), 1, two.size());
        std::memset(large.data(), 2, large.size());
        const pool_block_stats_t during = pool_block_stats();
        EXPECT_EQ(during.small_bytes - before.small_bytes, 4096u + 8192u);
        EXPECT_EQ(during.large_bytes - before.large_bytes, 73728u);
    }
    const pool_block_stats_t after = pool_block_stats();
    EXPECT_EQ(after.small_bytes, before.small_bytes);
    EXPECT_EQ(after.large_bytes, before.large_bytes);
}

TEST(PageBlock, EmptyBlocksHoldNothing) {
    page_block_t none;
    EXPECT_EQ(none.data(), nullptr);
    EXPECT_EQ(none.size(), 0u);
    page_block_t zero("nothing", 0);
    EXPECT_EQ(zero.data(), nullptr);
    EXPECT_EQ(zero.size(), 0u);
}

TEST(PageBlock, MovingHandsTheMemoryOver) {
    const pool_block_stats_t before = pool_block_stats();
    page_block_t a("a", 100);
    void* memory = a.data();
    page_block_t b(std::move(a));
    EXPECT_EQ(b.data(), memory);
    EXPECT_EQ(a.data(), nullptr);
    page_block_t c("c", 5000);
    c = std::move(b);  // c's own memory goes back
    EXPECT_EQ(c.data(), memory);
    EXPECT_EQ(c.size(), 4096u);
    EXPECT_EQ(pool_block_stats().small_bytes - before.small_bytes, 4096u);
}

}  // namespace
}  // namespace Core_Common
