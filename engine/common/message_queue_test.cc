#include "common/message_queue.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <future>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <thread>
#include <vector>

#include "common/message_token.h"
#include "common/test_clock.h"
#include "platform/threads.h"

namespace Core_Common {
namespace {

class MessageQueueTest : public ::testing::Test {
protected:
    void SetUp() override { MessageQueue::create_current(); }
    void TearDown() override { MessageQueue::destroy_current(); }

    static MessageQueue& queue() { return *MessageQueue::current(); }

    // Appends `value` to m_ran when the message runs.
    std::function<void()> record(int value) {
        return [this, value] { m_ran.push_back(value); };
    }

    std::vector<int> m_ran;  // written only by the draining thread
};

// ---- Posting and order -----------------------------------------------------

TEST_F(MessageQueueTest, RunsMessagesOldestFirstAndCountsPending) {
    MessageToken token;
    token.post(record(1));
    token.post(7, record(2));
    EXPECT_EQ(token.pending_count(), 2u);
    EXPECT_EQ(queue().size(), 2u);
    queue().drain();
    EXPECT_EQ(m_ran, (std::vector<int>{1, 2}));
    EXPECT_EQ(token.pending_count(), 0u);
    EXPECT_EQ(queue().size(), 0u);
}

TEST_F(MessageQueueTest, MessagesFromSeveralThreadsRunInEntryOrderOnTheDrainingThread) {
    constexpr int THREADS = 4;
    constexpr int EACH = 500;
    std::mutex order_lock;
    std::vector<int> entered;  // the order in which posts entered the list
    std::vector<std::uint32_t> ran_on;
    std::vector<std::thread> posters;
    for (int t = 0; t < THREADS; ++t) {
        posters.emplace_back([&, t] {
            MessageToken token;
            for (int i = 0; i < EACH; ++i) {
                const int id = t * EACH + i;
                std::lock_guard<std::mutex> guard(order_lock);
                entered.push_back(id);
                token.post([this, id, &ran_on] {
                    m_ran.push_back(id);
                    ran_on.push_back(Core_Platform::current_thread_id());
                });
            }
            // Keep the token until everything ran: destroying it would
            // cancel its messages.
            while (token.pending_count() != 0) std::this_thread::yield();
        });
    }
    // Drain concurrently with the posting threads.
    while (m_ran.size() < THREADS * EACH) queue().drain();
    for (auto& t : posters) t.join();
    EXPECT_EQ(m_ran, entered);
    for (std::uint32_t id : ran_on) EXPECT_EQ(id, Core_Platform::current_thread_id());
}

TEST_F(MessageQueueTest, MessagePostedDuringDrainRunsInTheSameDrain) {
    MessageToken token;
    token.post([&] {
        m_ran.push_back(1);
        token.post(record(2));
    });
    queue().drain();
    EXPECT_EQ(m_ran, (std::vector<int>{1, 2}));
    EXPECT_EQ(token.pending_count(), 0u);
}

TEST_F(MessageQueueTest, PostingWithoutAQueueDropsTheCallable) {
    MessageQueue::destroy_current();
    MessageToken token;
    bool destroyed = false;
    auto guard = std::shared_ptr<void>(nullptr, [&destroyed](void*) { destroyed = true; });
    token.post([guard] {});
    guard.reset();
    EXPECT_TRUE(destroyed);
    EXPECT_EQ(token.pending_count(), 0u);
    token.cancel_all();
    MessageQueue::create_current();
}

// ---- Budget ------------------------------------------------------------------

TEST_F(MessageQueueTest, DrainStopsAfterTheMessageThatCrossedOneSecond) {
    test_clock clock;
    MessageToken token;
    for (int i = 1; i <= 4; ++i) {
        token.post([this, i, &clock] {
            m_ran.push_back(i);
            clock.advance(600);
        });
    }
    queue().drain();
    EXPECT_EQ(m_ran, (std::vector<int>{1, 2}));
    EXPECT_EQ(token.pending_count(), 2u);
    queue().drain();
    EXPECT_EQ(m_ran, (std::vector<int>{1, 2, 3, 4}));
}

// ---- Cancellation ---------------------------------------------------------

TEST_F(MessageQueueTest, CancelAllRemovesExactlyTheTokensMessages) {
    MessageToken mine, other;
    other.post(record(1));
    mine.post(record(100));
    other.post(record(2));
    mine.post(record(101));
    other.post(record(3));
    mine.cancel_all();
    EXPECT_EQ(mine.pending_count(), 0u);
    EXPECT_EQ(other.pending_count(), 3u);
    queue().drain();
    EXPECT_EQ(m_ran, (std::vector<int>{1, 2, 3}));

    // The token is usable again afterwards.
    mine.post(record(102));
    queue().drain();
    EXPECT_EQ(m_ran.back(), 102);
}

TEST_F(MessageQueueTest, DestroyingATokenCancelsItsMessages) {
    MessageToken other;
    {
        MessageToken mine;
        mine.post(record(100));
        other.post(record(1));
    }
    queue().drain();
    EXPECT_EQ(m_ran, (std::vector<int>{1}));
}

TEST_F(MessageQueueTest, CancelAllWhileAnotherThreadPosts) {
    constexpr int POSTS = 5000;
    MessageToken cancelled;
    MessageToken busy;
    std::atomic<bool> done{false};
    std::thread poster([&] {
        for (int n = 0; n < POSTS; ++n) busy.post([this, n] { m_ran.push_back(n); });
        done = true;
    });
    for (int round = 0; round < 200 || !done; ++round) {
        cancelled.post(record(-1));
        cancelled.post(record(-2));
        cancelled.cancel_all();
        EXPECT_EQ(cancelled.pending_count(), 0u);
    }
    poster.join();
    while (queue().size() > 0) queue().drain();
    ASSERT_EQ(m_ran.size(), static_cast<std::size_t>(POSTS));
    for (int i = 0; i < POSTS; ++i) EXPECT_EQ(m_ran[i], i);
    EXPECT_EQ(busy.pending_count(), 0u);
}

TEST_F(MessageQueueTest, CancelAllOfAnIdleTokenDoesNotWaitForARunningMessage) {
    MessageToken running_token;
    std::promise<void> started, release;
    std::shared_future<void> released = release.get_future().share();
    running_token.post([&] {
        started.set_value();
        released.wait();
    });
    std::thread drainer([] { MessageQueue::current()->drain(); });
    started.get_future().wait();
    // The drainer holds the dispatch lock now; an idle token must not need it.
    MessageToken idle;
    idle.cancel_all();
    release.set_value();
    drainer.join();
}

TEST_F(MessageQueueTest, DestroyingATokenWaitsForItsRunningMessage) {
    auto token = std::make_unique<MessageToken>();
    std::promise<void> started;
    std::atomic<bool> finished{false};
    token->post([&] {
        started.set_value();
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        finished = true;
    });
    std::thread drainer([] { MessageQueue::current()->drain(); });
    started.get_future().wait();
    EXPECT_EQ(token->pending_count(), 0u);  // taken for running already
    // Must wait: the running message belongs to the token's owner.
    token.reset();
    EXPECT_TRUE(finished);
    drainer.join();
}

TEST_F(MessageQueueTest, AMessageMayDestroyItsOwnToken) {
    struct operation_t {
        MessageToken token;
        int value = 5;
    };
    auto* op = new operation_t;
    op->token.post([this, op] {
        m_ran.push_back(op->value);
        op->token.post(record(99));  // dropped with the token below
        delete op;
    });
    MessageToken other;
    other.post(record(6));
    queue().drain();
    EXPECT_EQ(m_ran, (std::vector<int>{5, 6}));
}

// ---- Failures ------------------------------------------------------------

TEST_F(MessageQueueTest, EmptyCallablePropagatesAndLeavesTheRestQueued) {
    MessageToken token;
    token.post(std::function<void()>());
    token.post(record(2));
    EXPECT_THROW(queue().drain(), std::bad_function_call);
    EXPECT_EQ(token.pending_count(), 1u);
    EXPECT_EQ(queue().size(), 1u);
    queue().drain();
    EXPECT_EQ(m_ran, (std::vector<int>{2}));
}

TEST_F(MessageQueueTest, ExceptionFromAMessagePropagatesWithLocksReleased) {
    MessageToken token;
    token.post([] { throw std::logic_error("message failed"); });
    token.post(record(2));
    EXPECT_THROW(queue().drain(), std::logic_error);
    // Another thread can post and cancel: no lock was left behind.
    std::thread([&] {
        MessageToken t;
        t.post(record(3));
        t.cancel_all();
    }).join();
    queue().drain();
    EXPECT_EQ(m_ran, (std::vector<int>{2}));
}

TEST_F(MessageQueueTest, DestroyingTheQueueDropsUndeliveredMessages) {
    MessageToken token;
    bool destroyed = false;
    auto guard = std::shared_ptr<void>(nullptr, [&destroyed](void*) { destroyed = true; });
    token.post([guard, this] { m_ran.push_back(1); });
    guard.reset();
    MessageQueue::destroy_current();
    EXPECT_TRUE(destroyed);
    EXPECT_TRUE(m_ran.empty());
    token.cancel_all();  // no queue: nothing to do
    MessageQueue::create_current();
    EXPECT_EQ(MessageQueue::current()->size(), 0u);
}

}  // namespace
}  // namespace Core_Common
