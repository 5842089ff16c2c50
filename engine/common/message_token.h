// Public engine surface: posting work to the main thread.
//
// An object that hands work to the main thread embeds a MessageToken and
// posts callables through it; the main thread runs them, oldest first, when
// the framework's pump drains the message queue (common/message_queue.h).
// The token counts the messages posted through it that have not yet been
// taken for running, and cancels them when the object goes away.
//
// Destroying a token runs cancel_all(): its queued messages are dropped
// without running and, when one of its messages is running on another thread
// at that moment, the destructor waits until it has returned. (A token may
// also be destroyed by its own running message on the main thread.)
//
// Thread rule: post, pending_count and cancel_all may be called from any
// thread. The token must not be destroyed while another thread is inside one
// of its operations.
#pragma once

#include <cstdint>
#include <functional>
#include <mutex>

namespace Core_Common {

class MessageQueue;

class MessageToken {
public:
    MessageToken() = default;
    ~MessageToken();
    MessageToken(const MessageToken&) = delete;
    MessageToken& operator=(const MessageToken&) = delete;

    // Appends a message {this token, callable, tag} to the process-wide
    // queue and raises the pending count. Without a queue the callable is
    // dropped and the count is left alone. `tag` is stored with the message
    // and not interpreted. Never waits for a running message.
    void post(std::int32_t tag, std::function<void()> callable);
    void post(std::function<void()> callable) { post(0, std::move(callable)); }

    // Messages posted through this token and not yet taken for running.
    std::uint32_t pending_count() const;

    // Drops every queued message of this token, keeping the others in order,
    // and waits for a message of this token that is running on another
    // thread. Returns at once, without touching the queue's locks, when
    // nothing of this token is queued or running, or when there is no queue.
    // The pending count is lowered by the number of messages removed, so it
    // keeps counting exactly the messages that will still run.
    void cancel_all();

private:
    friend class MessageQueue;
    mutable std::recursive_mutex m_lock;
    std::uint32_t m_pending_count = 0;
};

}  // namespace Core_Common
