// Public engine surface: a pool of equal-sized records.
//
// A record_pool carves records of one size from page_block_t chunks and keeps
// the free ones on a list threaded through their first bytes, so taking and
// returning a record is a pointer swap. When the last record handed out comes
// back, every chunk goes back to the page allocator.
//
// Chunks: with t = the record size raised to the size of a pointer, a chunk is
// one page when 32 * t is below the page size, else 32 * t rounded up to whole
// pages, and holds chunk size / t records (with 4096-byte pages, 64-byte
// records: 64 per 4096-byte chunk; 1000-byte records: 32 per 32,768-byte
// chunk). Records sit t bytes apart, so
// a record is aligned like its size when the size is a multiple of its
// alignment (true for every sizeof(T)).
//
// The memory is raw: the caller constructs and destroys objects in it
// (shared_record_pool<T> does both, common/shared_record_pool.h). In an
// address-sanitizer build, free records are poisoned, so a use after release
// is reported at the faulting access.
//
// Failure: a size argument that differs from the pool's record size, or a
// release with no record handed out, raises fatal_error(); memory exhaustion
// raises it inside the page allocator.
//
// Thread rule: a record_pool has no lock of its own; every user guards its
// pool with a lock of its own.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "common/page_block.h"

namespace Core_Common {

// A pool's figures for diagnostic reports.
struct record_pool_figures_t {
    std::uint32_t live = 0;         // records handed out and not returned
    std::uint32_t chunks = 0;       // chunks held
    std::uint32_t per_chunk = 0;    // records per chunk
    std::uint32_t capacity = 0;     // chunks * per_chunk
    std::uint32_t record_size = 0;  // the size every request names
    std::uint64_t chunk_bytes = 0;  // bytes of all chunks
};

class record_pool {
public:
    explicit record_pool(std::uint32_t record_size);
    // Gives every chunk back; records still handed out become invalid.
    ~record_pool();
    record_pool(const record_pool&) = delete;
    record_pool& operator=(const record_pool&) = delete;

    // A record of `size` bytes (which must equal record_size()). Its chunk is
    // named `name` (not owned; use a literal).
    void* allocate(std::uint32_t size, const char* name);
    // Returns a record from allocate(size).
    void release(void* record, std::uint32_t size);

    std::uint32_t live() const { return m_live; }
    std::uint32_t per_chunk() const { return m_per_chunk; }
    std::uint32_t record_size() const { return m_record_size; }
    std::uint32_t chunk_count() const { return static_cast<std::uint32_t>(m_chunks.size()); }
    record_pool_figures_t figures() const;

private:
    void release_chunks();

    std::vector<page_block_t*> m_chunks;
    void* m_free_head = nullptr;
    std::uint32_t m_per_chunk = 0;
    std::uint32_t m_live = 0;
    std::uint32_t m_record_size = 0;
    std::uint32_t m_stride = 0;
    std::size_t m_chunk_size = 0;
};

}  // namespace Core_Common
