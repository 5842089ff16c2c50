#include "common/pool_block.h"

#include <algorithm>

#include "common/diagnostic_text.h"
#include "common/fatal_error.h"
#include "platform/virtual_memory.h"

namespace Core_Common {
namespace {

using Core_Platform::vm_error_enum;

// Puts the reason of a refused request where a crash report finds it.
void note_refusal(vm_error_enum error) {
    if (error == vm_error_enum::commit_limit) {
        set_crash_info_text(u"The paging file is too small for memory allocation.");
    } else if (error == vm_error_enum::no_memory) {
        set_crash_info_text(u"Not enough memory.");
    }
}

// A power of two from 4096 to the granularity, so that a region holds a
// whole number of pages.
bool supported_page_size(std::size_t page) {
    return page >= pool_block::MIN_PAGE_SIZE && page <= pool_block::GRANULARITY &&
           (page & (page - 1)) == 0;
}

}  // namespace

void pool_block::check_system() {
    const Core_Platform::vm_system_info_t info = Core_Platform::vm_system_info();
    const std::size_t page = info.page_size;
    if (!supported_page_size(page) || info.allocation_granularity != GRANULARITY) fatal_error();
    std::size_t expected = 0;
    // The first use fixes the page size; the system's never changes after.
    if (!m_page_size.compare_exchange_strong(expected, page) && expected != page) fatal_error();
}

std::size_t pool_block::page_size() {
    const std::size_t page = m_page_size.load();
    if (page != 0) return page;
    check_system();
    return m_page_size.load();
}

pool_block::~pool_block() {
    for (const region_t& region : m_regions) {
        Core_Platform::vm_release(reinterpret_cast<void*>(region.m_base), GRANULARITY);
    }
}

pool_block& pool_block::process() {
    static auto* the_allocator = new pool_block;
    return *the_allocator;
}

std::size_t pool_block::round_to_pages(std::size_t size) {
    const std::size_t page = page_size();
    return (size + page - 1) / page * page;
}

void* pool_block::alloc(std::size_t size) {
    check_system();
    if (size == 0) return nullptr;
    if (size > MAX_REQUEST) fatal_error();
    size = round_to_pages(size);
    return size < GRANULARITY ? alloc_small(size) : alloc_large(size);
}

void* pool_block::alloc_small(std::size_t size) {
    std::lock_guard<std::recursive_mutex> guard(m_lock);
    const std::size_t page = m_page_size.load();
    const std::size_t pages = size / page;
    vm_error_enum error = vm_error_enum::none;

    for (region_t& region : m_regions) {
        std::vector<std::uintptr_t>& free_pages = region.m_free_pages;
        if (free_pages.size() < pages) continue;
        // The first run of `pages` consecutive free pages wins.
        std::size_t run_start = 0;
        for (std::size_t i = 0; i < free_pages.size(); ++i) {
            if (i > run_start && free_pages[i] != free_pages[i - 1] + page) run_start = i;
            if (i + 1 - run_start < pages) continue;
            void* address = reinterpret_cast<void*>(free_pages[run_start]);
            if (!Core_Platform::vm_commit(address, size, &error)) {
                note_refusal(error);
                fatal_error();
            }
            free_pages.erase(free_pages.begin() + static_cast<std::ptrdiff_t>(run_start),
                             free_pages.begin() + static_cast<std::ptrdiff_t>(i + 1));
            m_small_bytes += size;
            return address;
        }
    }

    void* base = Core_Platform::vm_reserve(GRANULARITY, &error);
    if (base == nullptr) {
        note_refusal(error);
        fatal_error();
    }
    if (!Core_Platform::vm_commit(base, size, &error)) {
        Core_Platform::vm_release(base, GRANULARITY);
        note_refusal(error);
        fatal_error();
    }
    region_t region;
    region.m_base = reinterpret_cast<std::uintptr_t>(base);
    for (std::size_t offset = size; offset < GRANULARITY; offset += page) {
        region.m_free_pages.push_back(region.m_base + offset);
    }
    m_regions.push_back(std::move(region));
    m_small_bytes += size;
    return base;
}

void* pool_block::alloc_large(std::size_t size) {
    vm_error_enum error = vm_error_enum::none;
    void* address = Core_Platform::vm_allocate(size, &error);
    if (address == nullptr) {
        note_refusal(error);
        fatal_error();
    }
    std::lock_guard<std::recursive_mutex> guard(m_lock);
    m_large_bytes += size;
    m_large_count += 1;
    return address;
}

void pool_block::free(void* address, std::size_t size) {
    if (size == 0 || address == nullptr) return;
    size = round_to_pages(size);
    if (size < GRANULARITY) {
        free_small(address, size);
    } else {
        free_large(address, size);
    }
}

void pool_block::free_small(void* address, std::size_t size) {
    std::lock_guard<std::recursive_mutex> guard(m_lock);
    const std::size_t page = m_page_size.load();
    const auto first = reinterpret_cast<std::uintptr_t>(address);
    auto region = std::find_if(m_regions.begin(), m_regions.end(), [first](const region_t& r) {
        return first >= r.m_base && first < r.m_base + GRANULARITY;
    });
    // Memory this allocator does not hold in a region is not touched.
    if (region == m_regions.end()) return;

    // A misaligned address, a range beyond the region, or pages that are
    // already free would corrupt the free list (and later hand out pages that
    // are in use): a broken invariant of the caller.
    const std::uintptr_t end = first + size;
    std::vector<std::uintptr_t>& free_pages = region->m_free_pages;
    auto at = std::lower_bound(free_pages.begin(), free_pages.end(), first);
    if ((first - region->m_base) % page != 0 || end > region->m_base + GRANULARITY ||
        (at != free_pages.end() && *at < end)) {
        fatal_error();
    }

    Core_Platform::vm_decommit(address, size);
    std::vector<std::uintptr_t> freed;
    for (std::uintptr_t at_page = first; at_page < end; at_page += page) freed.push_back(at_page);
    free_pages.insert(at, freed.begin(), freed.end());
    m_small_bytes -= size;

    if (free_pages.size() == GRANULARITY / page) {
        Core_Platform::vm_release(reinterpret_cast<void*>(region->m_base), GRANULARITY);
        m_regions.erase(region);
    }
}

void pool_block::free_large(void* address, std::size_t size) {
    Core_Platform::vm_release(address, size);
    std::lock_guard<std::recursive_mutex> guard(m_lock);
    m_large_bytes -= size;
    m_large_count -= 1;
}

pool_block_stats_t pool_block::stats() const {
    std::lock_guard<std::recursive_mutex> guard(m_lock);
    pool_block_stats_t s;
    s.region_count = m_regions.size();
    s.region_bytes = s.region_count * GRANULARITY;
    for (const region_t& region : m_regions) s.free_pages += region.m_free_pages.size();
    s.free_page_bytes = s.free_pages * m_page_size.load();
    s.small_bytes = m_small_bytes;
    s.large_bytes = m_large_bytes;
    s.large_count = m_large_count;
    return s;
}

bool pool_block::try_stats(pool_block_stats_t& out) const {
    out = pool_block_stats_t{};
    if (!m_lock.try_lock()) return false;
    out.region_count = m_regions.size();
    out.region_bytes = out.region_count * GRANULARITY;
    for (const region_t& region : m_regions) out.free_pages += region.m_free_pages.size();
    out.free_page_bytes = out.free_pages * m_page_size.load();
    out.small_bytes = m_small_bytes;
    out.large_bytes = m_large_bytes;
    out.large_count = m_large_count;
    m_lock.unlock();
    return true;
}

void* pool_block_alloc(std::size_t size) { return pool_block::process().alloc(size); }

void pool_block_free(void* address, std::size_t size) { pool_block::process().free(address, size); }

pool_block_stats_t pool_block_stats() { return pool_block::process().stats(); }

bool pool_block_try_stats(pool_block_stats_t& out) { return pool_block::process().try_stats(out); }

}  // namespace Core_Common
