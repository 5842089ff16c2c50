#include "common/message_queue.h"

#include <utility>

#include "common/timestamp_auto.h"

namespace Core_Common {
namespace {

// Guards the process-wide pointer only; never held while a queue lock is
// taken.
std::mutex& current_lock() {
    static auto* the_lock = new std::mutex;
    return *the_lock;
}

std::shared_ptr<MessageQueue>& current_queue() {
    static auto* the_queue = new std::shared_ptr<MessageQueue>;
    return *the_queue;
}

// Marks `token` as running for the lifetime of the guard; restores the token
// of an outer drain (a message may drain the queue itself).
class running_guard {
public:
    running_guard(std::atomic<const MessageToken*>& slot, const MessageToken* token)
        : m_slot(slot), m_outer(slot.exchange(token)) {}
    ~running_guard() { m_slot.store(m_outer); }
    running_guard(const running_guard&) = delete;
    running_guard& operator=(const running_guard&) = delete;

private:
    std::atomic<const MessageToken*>& m_slot;
    const MessageToken* m_outer;
};

}  // namespace

std::shared_ptr<MessageQueue> MessageQueue::current() {
    std::lock_guard<std::mutex> guard(current_lock());
    return current_queue();
}

void MessageQueue::create_current() {
    auto fresh = std::make_shared<MessageQueue>();
    std::shared_ptr<MessageQueue> old;
    {
        std::lock_guard<std::mutex> guard(current_lock());
        old = std::exchange(current_queue(), std::move(fresh));
    }
    // `old` and its messages go here, outside the pointer's lock.
}

void MessageQueue::destroy_current() {
    std::shared_ptr<MessageQueue> old;
    {
        std::lock_guard<std::mutex> guard(current_lock());
        old = std::move(current_queue());
        current_queue().reset();
    }
}

void MessageQueue::append(message_t message) {
    std::lock_guard<std::recursive_mutex> guard(m_list_lock);
    m_messages.push_back(std::move(message));
}

std::size_t MessageQueue::size() const {
    std::lock_guard<std::recursive_mutex> guard(m_list_lock);
    return m_messages.size();
}

bool MessageQueue::is_running(const MessageToken* token) const {
    return m_running_token.load() == token;
}

void MessageQueue::cancel(MessageToken* token) {
    std::lock_guard<std::recursive_mutex> dispatch(m_dispatch_lock);
    std::uint32_t erased = 0;
    {
        std::lock_guard<std::recursive_mutex> list(m_list_lock);
        for (auto it = m_messages.begin(); it != m_messages.end();) {
            if (it->m_token == token) {
                it = m_messages.erase(it);
                ++erased;
            } else {
                ++it;
            }
        }
    }
    // Erased messages will never be taken for running, so they no longer
    // count as pending.
    if (erased > 0) {
        std::lock_guard<std::recursive_mutex> guard(token->m_lock);
        token->m_pending_count -= erased;
    }
}

void MessageQueue::drain() {
    const timestamp_auto stopwatch;
    std::unique_lock<std::recursive_mutex> dispatch(m_dispatch_lock);
    std::unique_lock<std::recursive_mutex> list(m_list_lock);
    while (!m_messages.empty()) {
        message_t message = std::move(m_messages.front());
        m_messages.pop_front();
        {
            // Set before the count is lowered: a token that sees no pending
            // message then sees it running and waits for it.
            running_guard running(m_running_token, message.m_token);
            list.unlock();
            if (message.m_token != nullptr) {
                std::lock_guard<std::recursive_mutex> guard(message.m_token->m_lock);
                --message.m_token->m_pending_count;
            }
            // An empty callable throws std::bad_function_call out of drain.
            // The token must not be touched after this call: the message may
            // have destroyed it.
            message.m_callable();
        }
        if (stopwatch.elapsed_milliseconds() > DRAIN_BUDGET_MS) return;
        dispatch.unlock();
        message.m_callable = nullptr;
        dispatch.lock();
        list.lock();
    }
}

}  // namespace Core_Common
