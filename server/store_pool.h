// Internal to the server: stores lent to the threads that serve requests.
//
// A store_pool_t opens stores from one URL as threads need them, at most one
// per thread borrowing at the same time, and keeps them open for the next
// borrower. Thread-safe.
#pragma once

#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "store.h"
#include "store_open.h"

namespace Core_Server {

class store_pool_t {
public:
    // A store on loan; it goes back to the pool when the lease goes.
    class lease_t {
    public:
        lease_t() = default;
        lease_t(lease_t&& other) noexcept;
        lease_t& operator=(lease_t&& other) noexcept;
        ~lease_t();

        explicit operator bool() const { return m_store != nullptr; }
        InterfaceStore* operator->() const { return m_store.get(); }
        InterfaceStore& operator*() const { return *m_store; }
        // Drops the store instead of returning it (after a failure that may
        // have left its connection in doubt); the next borrower opens anew.
        void discard() { m_store.reset(); }

    private:
        friend class store_pool_t;
        lease_t(store_pool_t* pool, std::unique_ptr<InterfaceStore> store)
            : m_pool(pool), m_store(std::move(store)) {}
        store_pool_t* m_pool = nullptr;
        std::unique_ptr<InterfaceStore> m_store;
    };

    store_pool_t(std::string url, store_options_t options)
        : m_url(std::move(url)), m_options(options) {}
    store_pool_t(const store_pool_t&) = delete;
    store_pool_t& operator=(const store_pool_t&) = delete;
    // Every lease must have ended before the pool goes.
    ~store_pool_t() = default;

    // Lends an idle store, or opens a new one. On failure `out` is empty and
    // the status says why (the message of open_store).
    [[nodiscard]] store_status_t borrow(lease_t& out);

    const std::string& url() const { return m_url; }

private:
    void give_back(std::unique_ptr<InterfaceStore> store);

    const std::string m_url;
    const store_options_t m_options;
    std::mutex m_mutex;
    std::vector<std::unique_ptr<InterfaceStore>> m_idle;
};

}  // namespace Core_Server
