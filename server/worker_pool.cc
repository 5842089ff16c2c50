#include "worker_pool.h"

#include <pthread.h>

#include <algorithm>

namespace Core_Server {

worker_pool_t::worker_pool_t(int threads, std::size_t queue)
    : m_capacity(queue), m_size(static_cast<std::size_t>(std::max(1, threads))) {
    const int n = static_cast<int>(m_size);
    m_threads.reserve(static_cast<std::size_t>(n));
    for (int i = 0; i < n; ++i) m_threads.emplace_back([this] { run(); });
}

worker_pool_t::~worker_pool_t() { stop(); }

bool worker_pool_t::try_post(std::function<void()> job) {
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        // Jobs an idle thread will take at once do not wait.
        const std::size_t idle = m_size - m_busy;
        if (m_stopped || m_jobs.size() >= m_capacity + idle) return false;
        m_jobs.push_back(std::move(job));
    }
    m_ready.notify_one();
    return true;
}

void worker_pool_t::stop() {
    std::deque<std::function<void()>> dropped;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (m_stopped) return;
        m_stopped = true;
        dropped.swap(m_jobs);
    }
    m_ready.notify_all();
    for (auto& t : m_threads) t.join();
    m_threads.clear();
}

void worker_pool_t::run() {
    // Named for operators' tools (top -H, ps -L).
    pthread_setname_np(pthread_self(), "zv-worker");
    for (;;) {
        std::function<void()> job;
        {
            std::unique_lock<std::mutex> lock(m_mutex);
            m_ready.wait(lock, [&] { return m_stopped || !m_jobs.empty(); });
            if (m_stopped) return;
            job = std::move(m_jobs.front());
            m_jobs.pop_front();
            ++m_busy;
        }
        try {
            job();
        } catch (...) {
        }
        std::lock_guard<std::mutex> lock(m_mutex);
        --m_busy;
    }
}

}  // namespace Core_Server
