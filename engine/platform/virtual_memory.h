// Public engine surface (for common/pool_block only): virtual memory.
//
// The page allocator of the engine reserves address space in regions of the
// allocation granularity, commits and decommits pages inside them, and asks
// for directly committed blocks for large requests. This header is the only
// way to the system's virtual-memory calls.
//
// Reservations are aligned to the allocation granularity. Committed memory is
// readable and writable and reads as zero when first committed (also after a
// decommit and a new commit).
//
// Every function may be called from any thread. Operations that can fail
// return nullptr or false and store the reason in *error (when error is not
// null); they never throw.
//
// Tests can inject failures and a different page size or granularity
// (platform/virtual_memory_testing.h); both are process-wide.
#pragma once

#include <cstddef>
#include <cstdint>

namespace Core_Platform {

enum class vm_error_enum : std::int32_t {
    none = 0,
    // The system's commitment limit is reached (the paging file is too small).
    commit_limit = 1,
    // Not enough memory or address space.
    no_memory = 2,
    // Any other failure (bad arguments).
    other = 3,
};

struct vm_system_info_t {
    std::uint32_t page_size = 0;
    // Granularity of reservations (addresses and sizes).
    std::uint32_t allocation_granularity = 0;
};

// The page size and allocation granularity, read once and cached
// (4096 and 65,536 on this platform unless overridden).
vm_system_info_t vm_system_info();

// Reserves `size` bytes (a multiple of the granularity) of address space,
// inaccessible, at an address aligned to the granularity. Release with
// vm_release(address, size).
void* vm_reserve(std::size_t size, vm_error_enum* error);

// Commits whole pages inside a reservation, read-write.
bool vm_commit(void* address, std::size_t size, vm_error_enum* error);

// Returns the pages' memory to the system and makes them inaccessible again;
// the address range stays reserved. Never fails for a range inside a
// reservation.
void vm_decommit(void* address, std::size_t size);

// Reserves and commits `size` bytes (a multiple of the page size) in one
// step, read-write. Release with vm_release(address, size).
void* vm_allocate(std::size_t size, vm_error_enum* error);

// Releases a whole reservation or direct allocation.
void vm_release(void* address, std::size_t size);

}  // namespace Core_Platform
