#include "verification_cache.h"

#include <gtest/gtest.h>

namespace Core_Server {
namespace {

using namespace std::chrono_literals;
using clock_type = verification_cache_t::clock_t;

TEST(VerificationCache, RemembersTheExactTripleForItsLifetime) {
    verification_cache_t cache(60s, 100);
    const auto t0 = clock_type::time_point() + 1h;
    EXPECT_FALSE(cache.contains("bob", "pw", "rec", t0));
    cache.remember("bob", "pw", "rec", t0);
    EXPECT_TRUE(cache.contains("bob", "pw", "rec", t0 + 59s));
    EXPECT_FALSE(cache.contains("bob", "pw2", "rec", t0));
    EXPECT_FALSE(cache.contains("bob2", "pw", "rec", t0));
    // A changed password record invalidates what was remembered.
    EXPECT_FALSE(cache.contains("bob", "pw", "rec2", t0));
    // Fields cannot be shifted into each other.
    EXPECT_FALSE(cache.contains("bobp", "w", "rec", t0));
    EXPECT_FALSE(cache.contains("bob", "", "pwrec", t0));
    EXPECT_FALSE(cache.contains("bob", "pw", "rec", t0 + 60s));
    // The expired entry was dropped when found.
    EXPECT_EQ(cache.size(), 0u);
}

TEST(VerificationCache, StaysWithinItsCapacity) {
    verification_cache_t cache(60s, 3);
    const auto t0 = clock_type::time_point() + 1h;
    cache.remember("a", "p", "r", t0);
    cache.remember("b", "p", "r", t0 + 30s);
    cache.remember("c", "p", "r", t0 + 30s);
    // Full: the expired "a" makes room.
    cache.remember("d", "p", "r", t0 + 61s);
    EXPECT_EQ(cache.size(), 3u);
    EXPECT_TRUE(cache.contains("b", "p", "r", t0 + 61s));
    // Full of live entries: everything is forgotten, the new one kept.
    cache.remember("e", "p", "r", t0 + 62s);
    EXPECT_EQ(cache.size(), 1u);
    EXPECT_TRUE(cache.contains("e", "p", "r", t0 + 62s));
    EXPECT_FALSE(cache.contains("b", "p", "r", t0 + 62s));

    verification_cache_t none(60s, 0);
    none.remember("a", "p", "r", t0);
    EXPECT_FALSE(none.contains("a", "p", "r", t0));
}

TEST(VerificationCache, TwoCachesDoNotShareKeys) {
    // Each cache has its own secret; this can only be seen through behaviour
    // as independence, which is what matters to callers.
    verification_cache_t one(60s, 10), two(60s, 10);
    const auto t0 = clock_type::time_point() + 1h;
    one.remember("a", "p", "r", t0);
    EXPECT_TRUE(one.contains("a", "p", "r", t0));
    EXPECT_FALSE(two.contains("a", "p", "r", t0));
}

}  // namespace
}  // namespace Core_Server
