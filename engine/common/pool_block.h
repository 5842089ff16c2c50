// Public engine surface: the page allocator.
//
// pool_block hands out page-granular, committed, read-write memory outside
// the general heap:
//   - a request below the allocation granularity (64 KiB) is rounded up to
//     whole pages and served from 64 KiB regions that the allocator reserves
//     and sub-divides; a region is given back to the system as soon as all
//     its pages are free;
//   - a request of 64 KiB or more (after rounding) is committed directly.
// It keeps counters that crash reports print (pool_block_stats).
//
// Memory obtained with alloc(size) must be returned with free(address, size)
// with the same size. The caller owns the memory in between.
//
// Pages are the system's own (4096 bytes here; 16 KiB and 64 KiB on other
// machines), so pages are committed and decommitted exactly. The system's
// page size is taken when an allocator first needs it and must be a power of
// two from 4096 to 65,536 (it then divides the granularity); the
// granularity, this layer's choice, must be 65,536.
//
// Failure: an unsupported page size or granularity, a request above 1 GiB, or
// memory the system refuses raise fatal_error(); before the refusal is raised
// its reason goes into crash_info_text ("Not enough memory." or "The paging
// file is too small for memory allocation."). A small free (below 64 KiB) of
// memory that lies in none of the regions is ignored and the memory is not
// touched; a small free of pages that are already free, or that runs past the
// end of its region, raises fatal_error() (it would corrupt the free lists).
//
// Thread rule: any thread. One recursive lock guards the regions and the
// counters; small requests run entirely under it, large ones call the system
// outside it.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <vector>

namespace Core_Common {

// One reserved 64 KiB region: its base address and the ascending addresses of
// its free pages (reserved but not committed).
struct region_t {
    std::uintptr_t m_base = 0;
    std::vector<std::uintptr_t> m_free_pages;
};

// The allocator's figures, read together under its lock.
struct pool_block_stats_t {
    std::uint64_t region_count = 0;     // reserved regions
    std::uint64_t region_bytes = 0;     // region_count * 65,536
    std::uint64_t free_pages = 0;       // free pages over all regions
    std::uint64_t free_page_bytes = 0;  // free_pages * the page size
    std::uint64_t small_bytes = 0;      // committed for requests below 64 KiB
    std::uint64_t large_bytes = 0;      // committed by direct requests
    std::uint64_t large_count = 0;      // direct requests outstanding
};

class pool_block {
public:
    static constexpr std::size_t MIN_PAGE_SIZE = 4096;
    static constexpr std::size_t GRANULARITY = 65536;
    static constexpr std::size_t MAX_REQUEST = std::size_t{1} << 30;

    // An empty allocator. Tests make their own; the engine uses process().
    pool_block() = default;
    // Gives every region back to the system. Memory still handed out from
    // regions becomes invalid; direct blocks stay with their owners.
    ~pool_block();
    pool_block(const pool_block&) = delete;
    pool_block& operator=(const pool_block&) = delete;

    // The process-wide allocator (never destroyed).
    static pool_block& process();

    // Committed read-write memory of at least `size` bytes, or nullptr for
    // size 0. Raises fatal_error() as described above.
    void* alloc(std::size_t size);
    // Returns memory from alloc(size); size 0 does nothing.
    void free(void* address, std::size_t size);
    pool_block_stats_t stats() const;
    // The figures without waiting for the lock, for crash reports (which
    // must not block on a lock a crashed thread may hold). False, with `out`
    // zeroed, when another thread holds the lock. On the thread that holds
    // it (a crash inside the allocator) the figures may be half-updated.
    bool try_stats(pool_block_stats_t& out) const;

    // The page size this allocator works with: the system's, read on first
    // use and kept. Raises fatal_error() when the system's page size or
    // granularity is unsupported.
    std::size_t page_size();
    // `size` rounded up to whole pages.
    std::size_t round_to_pages(std::size_t size);

private:
    // Checks the system's figures against this allocator's page size (taken
    // from them on first use); fatal_error() when they do not fit.
    void check_system();

    void* alloc_small(std::size_t size);
    void* alloc_large(std::size_t size);
    void free_small(void* address, std::size_t size);
    void free_large(void* address, std::size_t size);

    // 0 until the first use.
    std::atomic<std::size_t> m_page_size{0};
    mutable std::recursive_mutex m_lock;
    std::vector<region_t> m_regions;  // creation order
    std::uint64_t m_small_bytes = 0;
    std::uint64_t m_large_bytes = 0;
    std::uint64_t m_large_count = 0;
};

// The process-wide allocator's operations.
void* pool_block_alloc(std::size_t size);
void pool_block_free(void* address, std::size_t size);
pool_block_stats_t pool_block_stats();
bool pool_block_try_stats(pool_block_stats_t& out);

}  // namespace Core_Common
