#include "store_pool.h"

namespace Core_Server {

store_pool_t::lease_t::lease_t(lease_t&& other) noexcept
    : m_pool(other.m_pool), m_store(std::move(other.m_store)) {}

store_pool_t::lease_t& store_pool_t::lease_t::operator=(lease_t&& other) noexcept {
    if (this != &other) {
        if (m_store && m_pool) m_pool->give_back(std::move(m_store));
        m_pool = other.m_pool;
        m_store = std::move(other.m_store);
    }
    return *this;
}

store_pool_t::lease_t::~lease_t() {
    if (m_store && m_pool) m_pool->give_back(std::move(m_store));
}

store_status_t store_pool_t::borrow(lease_t& out) {
    out = lease_t();
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (!m_idle.empty()) {
            out = lease_t(this, std::move(m_idle.back()));
            m_idle.pop_back();
            return store_status_t::success();
        }
    }
    std::unique_ptr<InterfaceStore> store;
    auto status = open_store(m_url, m_options, store);
    if (!status.ok()) return status;
    out = lease_t(this, std::move(store));
    return store_status_t::success();
}

void store_pool_t::give_back(std::unique_ptr<InterfaceStore> store) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_idle.push_back(std::move(store));
}

}  // namespace Core_Server
