#include "common/page_block.h"

#include <utility>

#include "common/pool_block.h"

namespace Core_Common {

page_block_t::page_block_t(const char* name, std::size_t size)
    : m_size(size == 0 ? 0 : pool_block::process().round_to_pages(size)),
      m_name(name != nullptr ? name : "") {
    m_address = pool_block_alloc(m_size);
}

page_block_t::~page_block_t() { pool_block_free(m_address, m_size); }

page_block_t::page_block_t(page_block_t&& other) noexcept
    : m_address(std::exchange(other.m_address, nullptr)),
      m_size(std::exchange(other.m_size, 0)),
      m_name(other.m_name) {}

page_block_t& page_block_t::operator=(page_block_t&& other) noexcept {
    if (this != &other) {
        pool_block_free(m_address, m_size);
        m_address = std::exchange(other.m_address, nullptr);
        m_size = std::exchange(other.m_size, 0);
        m_name = other.m_name;
    }
    return *this;
}

}  // namespace Core_Common
