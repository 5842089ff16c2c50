#include "common/pool_block.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <random>
#include <stdexcept>
#include <thread>
#include <vector>

#include "common/diagnostic_text.h"
#include "platform/virtual_memory.h"
#include "platform/virtual_memory_testing.h"

namespace Core_Common {
namespace {

using Core_Platform::vm_error_enum;

constexpr std::size_t PAGE = 4096;
constexpr std::size_t REGION = 65536;

std::uintptr_t addr(void* p) { return reinterpret_cast<std::uintptr_t>(p); }

bool is_fatal(const std::runtime_error& e) { return std::string(e.what()) == "crash"; }

void expect_empty(const pool_block& pool) {
    const pool_block_stats_t s = pool.stats();
    EXPECT_EQ(s.region_count, 0u);
    EXPECT_EQ(s.free_pages, 0u);
    EXPECT_EQ(s.small_bytes, 0u);
    EXPECT_EQ(s.large_bytes, 0u);
    EXPECT_EQ(s.large_count, 0u);
}

// ---- Small requests ------------------------------------------------------

TEST(PoolBlock, OneByteCommitsOnePageOfANewRegion) {
    pool_block pool;
    auto* p = static_cast<unsigned char*>(pool.alloc(1));
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(addr(p) % REGION, 0u);
    std::memset(p, 0x5A, PAGE);  // the whole page is usable
    const pool_block_stats_t s = pool.stats();
    EXPECT_EQ(s.region_count, 1u);
    EXPECT_EQ(s.region_bytes, REGION);
    EXPECT_EQ(s.free_pages, 15u);
    EXPECT_EQ(s.free_page_bytes, 15 * PAGE);
    EXPECT_EQ(s.small_bytes, PAGE);
    pool.free(p, 1);
    expect_empty(pool);
}

TEST(PoolBlock, FifteenPagesTakeANewRegionAndTheLastPageIsReused) {
    pool_block pool;
    void* big = pool.alloc(61440);
    EXPECT_EQ(pool.stats().region_count, 1u);
    EXPECT_EQ(pool.stats().free_pages, 1u);
    EXPECT_EQ(pool.stats().small_bytes, 61440u);
    void* last = pool.alloc(100);
    EXPECT_EQ(addr(last), addr(big) + 61440);
    EXPECT_EQ(pool.stats().region_count, 1u);
    void* next = pool.alloc(100);  // the region is full: a second one
    EXPECT_EQ(pool.stats().region_count, 2u);
    pool.free(big, 61440);
    pool.free(last, 100);
    EXPECT_EQ(pool.stats().region_count, 1u);
    pool.free(next, 100);
    expect_empty(pool);
}

TEST(PoolBlock, TwoEightKilobyteBlocksShareARegionThatGoesWithThem) {
    pool_block pool;
    void* a = pool.alloc(8192);
    void* b = pool.alloc(8192);
    EXPECT_EQ(addr(b), addr(a) + 8192);
    EXPECT_EQ(pool.stats().region_count, 1u);
    EXPECT_EQ(pool.stats().small_bytes, 16384u);
    pool.free(a, 8192);
    EXPECT_EQ(pool.stats().region_count, 1u);
    pool.free(b, 8192);
    expect_empty(pool);
}

TEST(PoolBlock, ASingleFreePageIsNotUsedForTwoPages) {
    pool_block pool;
    void* first = pool.alloc(PAGE);
    void* middle = pool.alloc(PAGE);
    void* third = pool.alloc(PAGE);
    pool.free(middle, PAGE);
    void* two = pool.alloc(2 * PAGE);
    EXPECT_EQ(addr(two), addr(first) + 3 * PAGE);
    // A one-page request takes the first free run: the middle page.
    void* one = pool.alloc(PAGE);
    EXPECT_EQ(addr(one), addr(middle));
    for (auto [p, n] : {std::pair{first, PAGE}, {third, PAGE}, {two, 2 * PAGE}, {one, PAGE}}) {
        pool.free(p, n);
    }
    expect_empty(pool);
}

TEST(PoolBlock, ReusedPagesReadAsZero) {
    pool_block pool;
    auto* keep = pool.alloc(PAGE);  // keeps the region alive
    auto* p = static_cast<unsigned char*>(pool.alloc(PAGE));
    std::memset(p, 0xFF, PAGE);
    pool.free(p, PAGE);
    auto* again = static_cast<unsigned char*>(pool.alloc(PAGE));
    ASSERT_EQ(again, p);
    EXPECT_EQ(again[0], 0);
    EXPECT_EQ(again[PAGE - 1], 0);
    pool.free(again, PAGE);
    pool.free(keep, PAGE);
}

// ---- Large requests --------------------------------------------------------

TEST(PoolBlock, SixtyFourKilobytesAndMoreGoDirectlyToTheSystem) {
    pool_block pool;
    void* a = pool.alloc(65535);
    void* b = pool.alloc(65536);
    auto* c = static_cast<unsigned char*>(pool.alloc(200000));
    c[200000 - 1] = 1;
    const pool_block_stats_t s = pool.stats();
    EXPECT_EQ(s.region_count, 0u);
    EXPECT_EQ(s.large_count, 3u);
    EXPECT_EQ(s.large_bytes, 65536u + 65536u + 200704u);
    pool.free(a, 65535);
    pool.free(b, 65536);
    pool.free(c, 200000);
    expect_empty(pool);
}

TEST(PoolBlock, SizeZeroIsNothing) {
    pool_block pool;
    EXPECT_EQ(pool.alloc(0), nullptr);
    pool.free(nullptr, 0);
    int local = 0;
    pool.free(&local, 0);
    expect_empty(pool);
}

// ---- Failures --------------------------------------------------------------

TEST(PoolBlock, RequestsAboveOneGibibyteAreFatal) {
    pool_block pool;
    EXPECT_NO_THROW(pool.free(pool.alloc(1), 1));
    try {
        pool.alloc((std::size_t{1} << 30) + 1);
        FAIL();
    } catch (const std::runtime_error& e) {
        EXPECT_TRUE(is_fatal(e));
    }
    expect_empty(pool);
}

// Machines with 16 KiB or 64 KiB pages: the allocator works in the system's
// pages, so a small request commits whole pages of that size and a region
// holds 64 KiB of them.
TEST(PoolBlock, LargerSystemPagesAreTheAllocatorsPages) {
    for (const std::uint32_t page : {16384u, 65536u}) {
        SCOPED_TRACE(page);
        Core_Platform::vm_override_system_info({page, 65536});
        {
            pool_block pool;
            EXPECT_EQ(pool.round_to_pages(1), page);
            auto* a = static_cast<unsigned char*>(pool.alloc(1));
            ASSERT_NE(a, nullptr);
            std::memset(a, 0x5A, page);  // the whole page is committed
            pool_block_stats_t s = pool.stats();
            if (page < REGION) {
                EXPECT_EQ(s.region_count, 1u);
                EXPECT_EQ(s.free_pages, REGION / page - 1);
                EXPECT_EQ(s.free_page_bytes, REGION - page);
                EXPECT_EQ(s.small_bytes, page);
                auto* b = static_cast<unsigned char*>(pool.alloc(page + 1));
                EXPECT_EQ(addr(b), addr(a) + page) << "the next pages of the same region";
                std::memset(b, 0x6B, 2 * page);
                EXPECT_EQ(pool.stats().small_bytes, 3u * page);
                pool.free(a, 1);
                EXPECT_EQ(b[0], 0x6B);
                pool.free(b, page + 1);
            } else {
                EXPECT_EQ(s.region_count, 0u) << "a whole granule is a direct block";
                EXPECT_EQ(s.large_bytes, REGION);
                pool.free(a, 1);
            }
            expect_empty(pool);
        }
    }
    for (const Core_Platform::vm_system_info_t bad : {Core_Platform::vm_system_info_t{4096, 16384},
                                                      {3000, 65536},
                                                      {2048, 65536},
                                                      {131072, 65536},
                                                      {0, 65536}}) {
        Core_Platform::vm_override_system_info(bad);
        pool_block pool;
        EXPECT_THROW(pool.alloc(1), std::runtime_error) << bad.page_size;
        expect_empty(pool);
    }
    Core_Platform::vm_override_system_info({}, true);
}

TEST(PoolBlock, RefusedDirectRequestsExplainWhyInTheCrashInfo) {
    pool_block pool;
    set_crash_info_text(u"");
    Core_Platform::vm_fail_at(0, vm_error_enum::commit_limit);
    EXPECT_THROW(pool.alloc(REGION), std::runtime_error);
    EXPECT_EQ(crash_info_text(), u"The paging file is too small for memory allocation.");

    Core_Platform::vm_fail_at(0, vm_error_enum::no_memory);
    EXPECT_THROW(pool.alloc(REGION), std::runtime_error);
    EXPECT_EQ(crash_info_text(), u"Not enough memory.");
    expect_empty(pool);
    set_crash_info_text(u"");
}

TEST(PoolBlock, FailAtEveryStepLeavesNothingBehind) {
    // A work load of small and large requests; the n-th system call fails.
    for (std::int64_t n = 0;; ++n) {
        SCOPED_TRACE("failing call " + std::to_string(n));
        pool_block pool;
        std::vector<std::pair<void*, std::size_t>> held;
        bool failed = false;
        Core_Platform::vm_fail_at(n, vm_error_enum::no_memory);
        try {
            for (std::size_t size : {std::size_t{4096}, std::size_t{61440}, std::size_t{8192},
                                     std::size_t{70000}, std::size_t{1}}) {
                held.emplace_back(pool.alloc(size), size);
            }
        } catch (const std::runtime_error& e) {
            EXPECT_TRUE(is_fatal(e));
            EXPECT_EQ(crash_info_text(), u"Not enough memory.");
            failed = true;
        }
        Core_Platform::vm_fail_at(-1, vm_error_enum::none);
        for (auto [p, size] : held) pool.free(p, size);
        expect_empty(pool);
        if (!failed) break;
        ASSERT_LT(n, 20);
    }
    set_crash_info_text(u"");
}

TEST(PoolBlock, FreeingMemoryOutsideTheRegionsIsIgnored) {
    pool_block pool;
    void* held = pool.alloc(PAGE);
    std::vector<unsigned char> foreign(3 * PAGE, 7);
    pool.free(foreign.data(), PAGE);
    foreign[0] = 8;  // still accessible: not decommitted
    EXPECT_EQ(pool.stats().small_bytes, PAGE);
    pool.free(held, PAGE);
    expect_empty(pool);
}

TEST(PoolBlock, FreeingFreePagesAgainIsFatalAndChangesNothing) {
    pool_block pool;
    void* keep = pool.alloc(PAGE);
    void* p = pool.alloc(2 * PAGE);
    pool.free(p, 2 * PAGE);
    const pool_block_stats_t before = pool.stats();
    EXPECT_THROW(pool.free(p, PAGE), std::runtime_error);
    // A range that overlaps a free page is refused as a whole.
    EXPECT_THROW(pool.free(keep, 2 * PAGE), std::runtime_error);
    const pool_block_stats_t after = pool.stats();
    EXPECT_EQ(after.free_pages, before.free_pages);
    EXPECT_EQ(after.small_bytes, before.small_bytes);
    pool.free(keep, PAGE);
    expect_empty(pool);
}

// ---- Threads -------------------------------------------------------------

TEST(PoolBlock, ThreadsShareTheProcessAllocator) {
    const pool_block_stats_t before = pool_block_stats();
    std::vector<std::thread> threads;
    for (unsigned t = 0; t < 4; ++t) {
        threads.emplace_back([t] {
            std::mt19937 random(1234 + t);
            std::vector<std::pair<unsigned char*, std::size_t>> held;
            for (int i = 0; i < 300; ++i) {
                if (!held.empty() && random() % 2 == 0) {
                    auto [p, size] = held.back();
                    held.pop_back();
                    EXPECT_EQ(p[size - 1], static_cast<unsigned char>(t));
                    pool_block_free(p, size);
                } else {
                    const std::size_t size = 1 + random() % (random() % 8 == 0 ? 100000 : 20000);
                    auto* p = static_cast<unsigned char*>(pool_block_alloc(size));
                    p[0] = p[size - 1] = static_cast<unsigned char>(t);
                    held.emplace_back(p, size);
                }
            }
            for (auto [p, size] : held) pool_block_free(p, size);
        });
    }
    for (auto& t : threads) t.join();
    const pool_block_stats_t after = pool_block_stats();
    EXPECT_EQ(after.small_bytes, before.small_bytes);
    EXPECT_EQ(after.large_bytes, before.large_bytes);
    EXPECT_EQ(after.large_count, before.large_count);
    EXPECT_EQ(after.region_count, before.region_count);
}

}  // namespace
}  // namespace Core_Common
