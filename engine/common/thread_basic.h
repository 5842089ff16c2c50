// Public engine surface: starting a named service thread.
//
// thread_basic runs a callable on a new thread at one of four priorities
// (common/thread_helper.h), named after `name` (cut to what the system
// keeps). An exception that escapes the callable ends the whole process:
// report_thread_crash (common/thread_crash.h) reports it and exits with code
// 100. When the callable returns normally, running() becomes false.
//
// Lifetime: the thread's own state (its copy of the callable, the running
// flag) is shared between the thread and this object, so either may outlive
// the other. Destroying a thread_basic whose thread has not been joined
// detaches the thread: it keeps running to the end of its callable. An owner
// that must know the thread has finished (because the callable uses the
// owner) stops the work and calls join() before going away.
//
// Thread rule: start_thread, join and the destructor are for the owner's
// thread; running() may be read from any thread.
#pragma once

#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "common/thread_helper.h"

namespace Core_Common {

class thread_basic {
public:
    thread_basic() = default;
    ~thread_basic();
    thread_basic(const thread_basic&) = delete;
    thread_basic& operator=(const thread_basic&) = delete;

    // Sets running() and starts a new thread that sets its priority and name
    // and runs `callable`. A thread started earlier by this object and not
    // joined is detached first.
    void start_thread(std::function<void()> callable, std::string name,
                      thread_helper::thread_priority_enum priority);

    // True from start_thread until the callable returns normally.
    bool running() const;

    // Waits for the thread started last to end. Does nothing when there is
    // none, when it was joined already, or when called on that thread itself.
    void join();

private:
    struct state_t;
    std::shared_ptr<state_t> m_state;
    std::shared_ptr<std::thread> m_thread;
};

}  // namespace Core_Common
