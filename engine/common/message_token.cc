#include "common/message_token.h"

#include "common/message_queue.h"

namespace Core_Common {

MessageToken::~MessageToken() { cancel_all(); }

void MessageToken::post(std::int32_t tag, std::function<void()> callable) {
    std::shared_ptr<MessageQueue> queue = MessageQueue::current();
    if (!queue) return;
    {
        std::lock_guard<std::recursive_mutex> guard(m_lock);
        ++m_pending_count;
    }
    // The token's lock is released before the queue's lock is taken.
    queue->append(message_t{this, std::move(callable), tag});
}

std::uint32_t MessageToken::pending_count() const {
    std::lock_guard<std::recursive_mutex> guard(m_lock);
    return m_pending_count;
}

void MessageToken::cancel_all() {
    const std::uint32_t pending = pending_count();
    std::shared_ptr<MessageQueue> queue = MessageQueue::current();
    if (!queue) return;
    // Nothing queued: still wait when a message of this token is running on
    // another thread, so that its object is not destroyed under it.
    if (pending == 0 && !queue->is_running(this)) return;
    queue->cancel(this);
}

}  // namespace Core_Common
