#include "common/thread_basic.h"

#include <atomic>

#include "common/thread_crash.h"
#include "platform/threads.h"

namespace Core_Common {

// Shared by the thread and its thread_basic, so either may go first.
struct thread_basic::state_t {
    std::atomic<bool> running{true};
};

thread_basic::~thread_basic() {
    if (m_thread && m_thread->joinable()) m_thread->detach();
}

void thread_basic::start_thread(std::function<void()> callable, std::string name,
                                thread_helper::thread_priority_enum priority) {
    if (m_thread && m_thread->joinable()) m_thread->detach();
    auto state = std::make_shared<state_t>();
    m_state = state;
    m_thread = std::make_shared<std::thread>(
        [state, callable = std::move(callable), name = std::move(name), priority]() {
            thread_helper::set_current_thread_priority(priority);
            Core_Platform::set_current_thread_name(name);
            try {
                callable();
            } catch (...) {
                report_thread_crash(THREAD_CRASH_HANDLER_NAME, name, std::current_exception());
            }
            state->running.store(false, std::memory_order_release);
        });
}

bool thread_basic::running() const {
    return m_state && m_state->running.load(std::memory_order_acquire);
}

void thread_basic::join() {
    if (!m_thread || !m_thread->joinable()) return;
    if (m_thread->get_id() == std::this_thread::get_id()) return;
    m_thread->join();
}

}  // namespace Core_Common
