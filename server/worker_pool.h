// Internal to the server: a fixed set of threads running jobs from a bounded
// queue.
//
// The network threads hand each request's work (the password check, the
// store) to the pool, so slow work never stalls accepting connections, and
// the work under way at once stays bounded: `threads` jobs run, at most
// `queue` more wait for a thread, and a job beyond that is refused at once
// (the caller answers "BUSY").
//
// Thread-safe. A job must not throw (what escapes one is swallowed, so that a
// worker never dies).
#pragma once

#include <condition_variable>
#include <cstddef>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

namespace Core_Server {

class worker_pool_t {
public:
    // Starts `threads` threads (at least one).
    worker_pool_t(int threads, std::size_t queue);
    worker_pool_t(const worker_pool_t&) = delete;
    worker_pool_t& operator=(const worker_pool_t&) = delete;
    // stop().
    ~worker_pool_t();

    // Queues `job`; false (and `job` dropped) when the queue is full or the
    // pool stopped.
    [[nodiscard]] bool try_post(std::function<void()> job);
    // Lets running jobs finish, drops queued ones, joins the threads.
    // Idempotent; not from a job.
    void stop();

private:
    void run();

    const std::size_t m_capacity;
    const std::size_t m_size;  // threads
    std::mutex m_mutex;
    std::condition_variable m_ready;
    std::deque<std::function<void()>> m_jobs;
    // Threads running a job; the others are idle, or about to wait for one
    // (a thread still starting counts as idle).
    std::size_t m_busy = 0;
    bool m_stopped = false;
    std::vector<std::thread> m_threads;
};

}  // namespace Core_Server
