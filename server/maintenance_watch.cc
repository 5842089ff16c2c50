#include "maintenance_watch.h"

namespace Core_Server {

bool maintenance_watch_t::on(clock_t::time_point now, std::string& error) {
    error.clear();
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_read_once && now - m_read_at < m_interval) return m_on;
    // One reader at a time; the others wait for its answer, which is at most
    // one short query.
    store_pool_t::lease_t store;
    auto status = m_pool.borrow(store);
    bool value = false;
    if (status.ok()) status = store->get_maintenance(value);
    if (!status.ok()) {
        if (store) store.discard();
        error = status.message;
        return m_on;
    }
    m_on = value;
    m_read_once = true;
    m_read_at = now;
    return m_on;
}

}  // namespace Core_Server
