// Public engine surface: a page-granular buffer from the page allocator.
//
// A page_block_t owns committed read-write memory from the process-wide
// pool_block: its size is the requested size rounded up to whole pages (of
// the system's page size, 4096 bytes here), and the memory goes back to the allocator when the
// block is destroyed. A block of size 0 holds no memory (data() is nullptr).
//
// Failure: construction raises fatal_error() when the allocator does
// (common/pool_block.h); a constructed block always holds its memory.
//
// Thread rule: not locked; one thread at a time, or the owner's lock. The
// name is not owned and must outlive the block (use a literal).
#pragma once

#include <cstddef>

namespace Core_Common {

class page_block_t {
public:
    page_block_t() = default;
    page_block_t(const char* name, std::size_t size);
    ~page_block_t();

    page_block_t(const page_block_t&) = delete;
    page_block_t& operator=(const page_block_t&) = delete;
    // Moving hands the memory over; the source becomes an empty block.
    page_block_t(page_block_t&& other) noexcept;
    page_block_t& operator=(page_block_t&& other) noexcept;

    void* data() const { return m_address; }
    std::size_t size() const { return m_size; }
    const char* name() const { return m_name; }

private:
    void* m_address = nullptr;
    std::size_t m_size = 0;
    const char* m_name = "";
};

}  // namespace Core_Common
