#include "common/record_pool.h"

#include <algorithm>
#include <cstring>

#include "common/fatal_error.h"
#include "common/pool_block.h"

#if defined(__SANITIZE_ADDRESS__)
#include <sanitizer/asan_interface.h>
// The sanitizer tracks memory in 8-byte granules; records that do not fill
// whole granules are left unmarked so a live neighbour is never flagged.
#define ZV_POISON(address, size)                                         \
    do {                                                                 \
        if (m_stride % 8 == 0) ASAN_POISON_MEMORY_REGION(address, size); \
    } while (0)
#define ZV_UNPOISON(address, size) ASAN_UNPOISON_MEMORY_REGION(address, size)
#else
#define ZV_POISON(address, size) ((void)(address), (void)(size))
#define ZV_UNPOISON(address, size) ((void)(address), (void)(size))
#endif

namespace Core_Common {
namespace {

// The free list is threaded through the first bytes of each free record.
// Records may sit at any byte offset, so the link is copied, not cast.
void* next_of(void* record) {
    void* next;
    std::memcpy(&next, record, sizeof next);
    return next;
}

void set_next(void* record, void* next) { std::memcpy(record, &next, sizeof next); }

}  // namespace

record_pool::record_pool(std::uint32_t record_size) : m_record_size(record_size) {
    // Each record must hold the free-list link.
    m_stride = std::max<std::uint32_t>(record_size, sizeof(void*));
    const std::size_t wanted = std::size_t{32} * m_stride;
    pool_block& pages = pool_block::process();
    m_chunk_size = wanted < pages.page_size() ? pages.page_size() : pages.round_to_pages(wanted);
    m_per_chunk = static_cast<std::uint32_t>(m_chunk_size / m_stride);
}

record_pool::~record_pool() { release_chunks(); }

void record_pool::release_chunks() {
    for (page_block_t* chunk : m_chunks) {
        // The pages may come back to another user.
        ZV_UNPOISON(chunk->data(), chunk->size());
        delete chunk;
    }
    m_chunks.clear();
}

void* record_pool::allocate(std::uint32_t size, const char* name) {
    if (size != m_record_size) fatal_error();
    if (m_free_head == nullptr) {
        auto* chunk = new page_block_t(name, std::size_t{m_per_chunk} * m_stride);
        if (chunk->data() == nullptr) {
            delete chunk;
            return nullptr;
        }
        m_chunks.push_back(chunk);
        auto* base = static_cast<unsigned char*>(chunk->data());
        for (std::uint32_t i = 0; i < m_per_chunk; ++i) {
            void* next = i + 1 < m_per_chunk ? base + std::size_t{i + 1} * m_stride : nullptr;
            set_next(base + std::size_t{i} * m_stride, next);
        }
        // Free records are off limits to their users: an address sanitizer
        // build reports any use of a record after its release.
        ZV_POISON(base, chunk->size());
        m_free_head = base;
    }
    void* record = m_free_head;
    ZV_UNPOISON(record, m_stride);
    m_free_head = next_of(record);
    ++m_live;
    return record;
}

void record_pool::release(void* record, std::uint32_t size) {
    if (size != m_record_size) fatal_error();
    if (record == nullptr) return;
    // More releases than allocations would put a record on the list twice.
    if (m_live == 0) fatal_error();
    --m_live;
    if (m_live > 0) {
        set_next(record, m_free_head);
        ZV_POISON(record, m_stride);
        m_free_head = record;
        return;
    }
    // The last record came back: give all memory back.
    m_free_head = nullptr;
    release_chunks();
}

record_pool_figures_t record_pool::figures() const {
    record_pool_figures_t f;
    f.live = m_live;
    f.chunks = chunk_count();
    f.per_chunk = m_per_chunk;
    f.capacity = f.chunks * m_per_chunk;
    f.record_size = m_record_size;
    for (const page_block_t* chunk : m_chunks) f.chunk_bytes += chunk->size();
    return f;
}

}  // namespace Core_Common
