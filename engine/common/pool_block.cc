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

void check_system() {
    const Core_Platform::vm_system_info_t info = Core_Platform::vm_system_info();
    if (info.page_size != pool_block::PAGE_SIZE ||
        info.allocation_granularity != pool_block::GRANULARITY) {
        fatal_error();
    }
}

}  // namespace

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
    return (size + PAGE_SIZE - 1) / PAGE_SIZE * PAGE_SIZE;
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
    const std::size_t pages = size / PAGE_SIZE;
    vm_error_enum error = vm_error_enum::none;

    for (region_t& region : m_regions) {
        std::vector<std::uintptr_t>& free_pages = region.m_free_pages;
        if (free_pages.size() < pages) continue;
        // The first run of `pages` consecutive free pages wins.
        std::size_t run_start = 0;
        for (std::size_t i = 0; i < free_pages.size(); ++i) {
            if (i > run_start && free_pages[i] != free_pages[i - 1] + PAGE_SIZE) run_start = i;
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
    for (std::size_t offset = size; offset < GRANULARITY; offset += PAGE_SIZE) {
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
    if ((first - region->m_base) % PAGE_SIZE != 0 || end > region->m_base + GRANULARITY ||
        (at != free_pages.end() && *at < end)) {
        fatal_error();
    }

    Core_Platform::vm_decommit(address, size);
    std::vector<std::uintptr_t> freed;
    for (std::uintptr_t page = first; page < end; page += PAGE_SIZE) freed.push_back(page);
    free_pages.insert(at, freed.begin(), freed.end());
    m_small_bytes -= size;

    if (free_pages.size() == PAGES_PER_REGION) {
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
    s.free_page_bytes = s.free_pages * PAGE_SIZE;
    s.small_bytes = m_small_bytes;
    s.large_bytes = m_large_bytes;
    s.large_count = m_large_count;
    return s;
}

void* pool_block_alloc(std::size_t size) { return pool_block::process().alloc(size); }

void pool_block_free(void* address, std::size_t size) { pool_block::process().free(address, size); }

pool_block_stats_t pool_block_stats() { return pool_block::process().stats(); }

}  // namespace Core_Common
