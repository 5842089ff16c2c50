#include "platform/virtual_memory.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>

#include "platform/virtual_memory_testing.h"

namespace Core_Platform {
namespace {

constexpr std::size_t KIB64 = 65536;

TEST(VirtualMemory, SystemInfoIsPageAndGranularity) {
    const vm_system_info_t info = vm_system_info();
    EXPECT_EQ(info.page_size, 4096u);
    EXPECT_EQ(info.allocation_granularity, 65536u);

    vm_override_system_info({8192, 65536});
    EXPECT_EQ(vm_system_info().page_size, 8192u);
    vm_override_system_info({}, true);
    EXPECT_EQ(vm_system_info().page_size, 4096u);
}

TEST(VirtualMemory, ReserveCommitDecommitRelease) {
    vm_error_enum error = vm_error_enum::other;
    void* base = vm_reserve(2 * KIB64, &error);
    ASSERT_NE(base, nullptr);
    EXPECT_EQ(error, vm_error_enum::none);
    EXPECT_EQ(reinterpret_cast<std::uintptr_t>(base) % KIB64, 0u);

    auto* page = static_cast<unsigned char*>(base) + 4096;
    ASSERT_TRUE(vm_commit(page, 8192, &error));
    EXPECT_EQ(page[0], 0);
    std::memset(page, 0xAB, 8192);
    EXPECT_EQ(page[8191], 0xAB);

    // After a decommit and a new commit the pages read as zero again.
    vm_decommit(page, 8192);
    ASSERT_TRUE(vm_commit(page, 8192, &error));
    EXPECT_EQ(page[0], 0);
    EXPECT_EQ(page[8191], 0);
    vm_release(base, 2 * KIB64);
}

TEST(VirtualMemory, ReserveRejectsSizesOffTheGranularity) {
    vm_error_enum error = vm_error_enum::none;
    EXPECT_EQ(vm_reserve(4096, &error), nullptr);
    EXPECT_EQ(error, vm_error_enum::other);
    EXPECT_EQ(vm_reserve(0, nullptr), nullptr);
}

TEST(VirtualMemory, DirectAllocationIsWritable) {
    vm_error_enum error = vm_error_enum::other;
    auto* p = static_cast<unsigned char*>(vm_allocate(3 * KIB64, &error));
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(error, vm_error_enum::none);
    p[0] = 1;
    p[3 * KIB64 - 1] = 2;
    EXPECT_EQ(p[0] + p[3 * KIB64 - 1], 3);
    vm_release(p, 3 * KIB64);
}

TEST(VirtualMemory, FailAtNFailsExactlyTheNthCallOnce) {
    vm_fail_at(2, vm_error_enum::commit_limit);
    vm_error_enum error = vm_error_enum::none;
    void* a = vm_reserve(KIB64, &error);  // call 0
    ASSERT_NE(a, nullptr);
    EXPECT_TRUE(vm_commit(a, 4096, &error));   // call 1
    EXPECT_FALSE(vm_commit(a, 4096, &error));  // call 2 fails
    EXPECT_EQ(error, vm_error_enum::commit_limit);
    EXPECT_TRUE(vm_commit(a, 4096, &error));  // the hook fired once
    EXPECT_EQ(error, vm_error_enum::none);
    vm_release(a, KIB64);

    vm_fail_at(0, vm_error_enum::no_memory);
    EXPECT_EQ(vm_allocate(KIB64, &error), nullptr);
    EXPECT_EQ(error, vm_error_enum::no_memory);

    vm_fail_at(0, vm_error_enum::no_memory);
    vm_fail_at(-1, vm_error_enum::no_memory);  // disarmed
    void* b = vm_allocate(KIB64, &error);
    EXPECT_NE(b, nullptr);
    vm_release(b, KIB64);
}

}  // namespace
}  // namespace Core_Platform
