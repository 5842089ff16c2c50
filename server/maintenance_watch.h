// Internal to the server: the maintenance flag as the request path sees it.
//
// The flag lives in the store (the operator's "maintenance on|off" writes
// it), so every server process on the store follows it. Reading it for
// every request would cost a query each; the watch re-reads it at most once
// per `interval`, so a switch takes effect within that time. While the store
// cannot be read, the last value read stands (the failing request path
// reports the store itself). Thread-safe.
#pragma once

#include <chrono>
#include <mutex>
#include <string>

#include "store_pool.h"

namespace Core_Server {

class maintenance_watch_t {
public:
    using clock_t = std::chrono::steady_clock;

    maintenance_watch_t(store_pool_t& pool, std::chrono::milliseconds interval)
        : m_pool(pool), m_interval(interval) {}

    // Whether maintenance mode is on, as of at most `interval` before `now`.
    // When a re-read fails, `error` receives the reason (else it is cleared).
    bool on(clock_t::time_point now, std::string& error);

private:
    store_pool_t& m_pool;
    const std::chrono::milliseconds m_interval;
    std::mutex m_mutex;
    bool m_on = false;
    bool m_read_once = false;
    clock_t::time_point m_read_at;
};

}  // namespace Core_Server
