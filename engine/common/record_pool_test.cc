#include "common/record_pool.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <set>
#include <stdexcept>
#include <string>
#include <vector>

#include "common/pool_block.h"
#include "common/shared_record_pool.h"

namespace Core_Common {
namespace {

std::uintptr_t addr(void* p) { return reinterpret_cast<std::uintptr_t>(p); }

TEST(RecordPool, ChunkGeometryFollowsTheRecordSize) {
    EXPECT_EQ(record_pool(64).per_chunk(), 64u);
    EXPECT_EQ(record_pool(1000).per_chunk(), 32u);
    EXPECT_EQ(record_pool(128).per_chunk(), 32u);
    EXPECT_EQ(record_pool(129).per_chunk(), 63u);  // 32 * 129 rounds up to 8192
    EXPECT_EQ(record_pool(100).per_chunk(), 40u);  // 4096 / 100
    // A record must hold the free-list link.
    EXPECT_EQ(record_pool(2).per_chunk(), 4096u / sizeof(void*));

    record_pool pool(1000);
    void* r = pool.allocate(1000, "wire link");
    const record_pool_figures_t f = pool.figures();
    EXPECT_EQ(f.chunks, 1u);
    EXPECT_EQ(f.capacity, 32u);
    EXPECT_EQ(f.chunk_bytes, 32768u);
    EXPECT_EQ(f.live, 1u);
    EXPECT_EQ(f.record_size, 1000u);
    pool.release(r, 1000);
}

TEST(RecordPool, SixtyFourRecordsPerChunkAndASecondChunkForThe65th) {
    record_pool pool(64);
    std::vector<void*> records;
    for (int i = 0; i < 64; ++i) records.push_back(pool.allocate(64, "node"));
    EXPECT_EQ(pool.chunk_count(), 1u);
    // A fresh chunk hands out its records in address order.
    for (int i = 1; i < 64; ++i) EXPECT_EQ(addr(records[i]), addr(records[i - 1]) + 64);
    records.push_back(pool.allocate(64, "node"));
    EXPECT_EQ(pool.chunk_count(), 2u);
    EXPECT_EQ(pool.live(), 65u);

    // Records are distinct and usable over their whole size.
    std::set<void*> distinct(records.begin(), records.end());
    EXPECT_EQ(distinct.size(), 65u);
    for (void* r : records) std::memset(r, 0xEE, 64);
    for (void* r : records) pool.release(r, 64);
    EXPECT_EQ(pool.live(), 0u);
}

TEST(RecordPool, ReleasedRecordsAreReusedFirst) {
    record_pool pool(48);
    void* a = pool.allocate(48, "r");
    void* b = pool.allocate(48, "r");
    pool.release(a, 48);
    EXPECT_EQ(pool.allocate(48, "r"), a);
    pool.release(b, 48);
    EXPECT_EQ(pool.allocate(48, "r"), b);
    pool.release(a, 48);
    pool.release(b, 48);
}

TEST(RecordPool, ReturningTheLastRecordReleasesEveryChunk) {
    const pool_block_stats_t before = pool_block_stats();
    record_pool pool(64);
    std::vector<void*> records;
    for (int i = 0; i < 130; ++i) records.push_back(pool.allocate(64, "node"));
    EXPECT_EQ(pool.chunk_count(), 3u);
    EXPECT_EQ(pool_block_stats().small_bytes - before.small_bytes, 3 * 4096u);
    for (std::size_t i = 0; i + 1 < records.size(); ++i) pool.release(records[i], 64);
    EXPECT_EQ(pool.chunk_count(), 3u);
    pool.release(records.back(), 64);
    EXPECT_EQ(pool.chunk_count(), 0u);
    EXPECT_EQ(pool.figures().capacity, 0u);
    EXPECT_EQ(pool_block_stats().small_bytes, before.small_bytes);
    // And starts over cleanly.
    void* again = pool.allocate(64, "node");
    EXPECT_EQ(pool.chunk_count(), 1u);
    pool.release(again, 64);
}

TEST(RecordPool, OddSizesKeepRecordsApart) {
    record_pool pool(13);
    std::vector<unsigned char*> records;
    for (int i = 0; i < 200; ++i) {
        auto* r = static_cast<unsigned char*>(pool.allocate(13, "odd"));
        std::memset(r, i, 13);
        records.push_back(r);
    }
    for (int i = 0; i < 200; ++i) {
        for (int b = 0; b < 13; ++b) ASSERT_EQ(records[i][b], static_cast<unsigned char>(i));
    }
    for (auto* r : records) pool.release(r, 13);
}

TEST(RecordPool, WrongSizesAndExtraReleasesAreFatal) {
    record_pool pool(64);
    EXPECT_THROW(pool.allocate(65, "wrong"), std::runtime_error);
    EXPECT_EQ(pool.live(), 0u);
    void* r = pool.allocate(64, "right");
    EXPECT_THROW(pool.release(r, 32), std::runtime_error);
    EXPECT_EQ(pool.live(), 1u);
    pool.release(r, 64);
    EXPECT_THROW(pool.release(r, 64), std::runtime_error);
    EXPECT_EQ(pool.live(), 0u);
}

#if defined(__SANITIZE_ADDRESS__)
TEST(RecordPoolDeathTest, UseAfterReleaseIsReportedUnderTheAddressSanitizer) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_DEATH(
        {
            record_pool pool(64);
            auto* keep = static_cast<volatile unsigned char*>(pool.allocate(64, "keep"));
            auto* gone = static_cast<volatile unsigned char*>(pool.allocate(64, "gone"));
            keep[0] = 1;
            pool.release(const_cast<unsigned char*>(gone), 64);
            gone[10] = 1;
        },
        "use-after-poison");
}
#endif

// ---- The process-wide pool of one type ------------------------------------

struct node_t {
    explicit node_t(std::string name, bool fail = false) : m_name(std::move(name)) {
        if (fail) throw std::invalid_argument("bad node");
        ++s_alive;
    }
    ~node_t() { --s_alive; }
    std::string m_name;
    double m_weight = 1.5;
    static inline int s_alive = 0;
};

TEST(SharedRecordPool, CreatesAndDestroysObjectsInPooledRecords) {
    using nodes = shared_record_pool<node_t>;
    node_t* a = nodes::create("xml node", "bookmark");
    node_t* b = nodes::create("xml node", "folder");
    EXPECT_EQ(a->m_name, "bookmark");
    EXPECT_EQ(b->m_weight, 1.5);
    EXPECT_EQ(node_t::s_alive, 2);
    EXPECT_EQ(nodes::figures().live, 2u);
    EXPECT_EQ(nodes::figures().record_size, sizeof(node_t));
    EXPECT_EQ(addr(a) % alignof(node_t), 0u);
    EXPECT_EQ(addr(b) % alignof(node_t), 0u);

    EXPECT_THROW(nodes::create("xml node", "broken", true), std::invalid_argument);
    EXPECT_EQ(nodes::figures().live, 2u);

    nodes::destroy(a);
    nodes::destroy(b);
    nodes::destroy(nullptr);
    EXPECT_EQ(node_t::s_alive, 0);
    EXPECT_EQ(nodes::figures().live, 0u);
    EXPECT_EQ(nodes::figures().chunks, 0u);
}

}  // namespace
}  // namespace Core_Common
