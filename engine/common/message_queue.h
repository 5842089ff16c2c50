// Public engine surface: the message queue that the main thread drains.
//
// Any thread posts messages (callables with no arguments) through a
// MessageToken (common/message_token.h); the framework's pump calls drain()
// on the main thread, which runs them oldest first for at most 1000 ms. There
// is one queue per process, created and destroyed by InterfaceMessage
// (common/interface_message.h) and reached through current().
//
// Locks: the dispatch lock is held while a message runs and while a token's
// messages are cancelled; the list lock guards the list and is free while a
// message runs, so other threads can post meanwhile. Order: dispatch lock,
// then list lock; dispatch lock, then a token's lock; a token's lock is never
// held while a queue lock is taken. All three are recursive, so a running
// message may post, cancel or drain on the main thread.
//
// Failure: an exception from a message, or an empty callable (the library's
// bad-function-call exception), propagates out of drain() with the locks
// released; that message is already off the list and its token's count
// lowered, and the messages not yet taken stay queued.
#pragma once

#include <atomic>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>

#include "common/message_token.h"

namespace Core_Common {

// One queued message.
struct message_t {
    // The token it was posted through (may be null); used for the count and
    // for cancellation.
    MessageToken* m_token = nullptr;
    std::function<void()> m_callable;
    // Stored with the message and not interpreted by the queue.
    std::int32_t m_tag = 0;
};

class MessageQueue {
public:
    // The longest one drain() keeps running messages, in milliseconds.
    static constexpr std::int64_t DRAIN_BUDGET_MS = 1000;

    MessageQueue() = default;
    // Destroys undelivered messages without running them.
    ~MessageQueue() = default;
    MessageQueue(const MessageQueue&) = delete;
    MessageQueue& operator=(const MessageQueue&) = delete;

    // The process-wide queue, or empty before InterfaceMessage's initialize
    // and after its uninitialize. Any thread; a caller holding the returned
    // pointer keeps the queue alive, so a post racing the queue's destruction
    // is dropped rather than written into freed memory.
    static std::shared_ptr<MessageQueue> current();
    // Replaces the process-wide queue by a new empty one.
    static void create_current();
    // Empties the process-wide pointer; the queue and its undelivered
    // messages are destroyed when the last holder lets go.
    static void destroy_current();

    // Runs queued messages, oldest first, on the calling thread until the list
    // is empty or more than 1000 ms have passed; a message posted meanwhile
    // runs in the same drain if the budget allows. Called by the pump on the
    // main thread and by InterfaceMessage's cleanup.
    void drain();

    // Messages queued now. Any thread.
    std::size_t size() const;

private:
    friend class MessageToken;

    // Appends under the list lock.
    void append(message_t message);
    // Erases every message of `token` (under the dispatch and list locks).
    void cancel(MessageToken* token);
    // True while a message of `token` runs.
    bool is_running(const MessageToken* token) const;

    std::recursive_mutex m_dispatch_lock;
    std::deque<message_t> m_messages;  // oldest first
    mutable std::recursive_mutex m_list_lock;
    // The token of the message running now (set before its count is lowered,
    // cleared after it returns), so that a token's destruction on another
    // thread waits for its running message.
    std::atomic<const MessageToken*> m_running_token{nullptr};
};

}  // namespace Core_Common
