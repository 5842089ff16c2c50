#include "platform/huge_pages.h"

#include <gtest/gtest.h>

namespace Core_Platform {
namespace {

// The user's own tunables survive the start with huge pages, and a choice
// of theirs about huge pages is never overridden.
TEST(HugePageTunables, KeepWhatIsSetAndNeverOverrideAChoice) {
    EXPECT_EQ(huge_page_tunables(nullptr), "glibc.malloc.hugetlb=1");
    EXPECT_EQ(huge_page_tunables(""), "glibc.malloc.hugetlb=1");
    EXPECT_EQ(huge_page_tunables("glibc.malloc.arena_max=2:glibc.malloc.tcache_count=0"),
              "glibc.malloc.arena_max=2:glibc.malloc.tcache_count=0:glibc.malloc.hugetlb=1");
    EXPECT_EQ(huge_page_tunables("glibc.malloc.hugetlb=0"), "");
    EXPECT_EQ(huge_page_tunables("glibc.malloc.arena_max=2:glibc.malloc.hugetlb=2"), "");
    // A longer name that only starts like it is another tunable.
    EXPECT_EQ(huge_page_tunables("glibc.malloc.hugetlbx=1"),
              "glibc.malloc.hugetlbx=1:glibc.malloc.hugetlb=1");
}

}  // namespace
}  // namespace Core_Platform
