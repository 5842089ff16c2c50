// Public engine surface: a timer owned by an object.
//
// An object that needs a timer embeds a TimerHandle. The handle has at most
// one armed timer in its queue; scheduling an armed handle re-arms the same
// timer. Destroying the handle cancels its timer.
//
// Thread rule: every operation runs on the queue's owner thread (the main
// thread); on any other thread schedule and cancel raise fatal_error() and
// change nothing. A handle is bound to an explicit queue, or (by default) to
// the process-wide queue, looked up at each call; scheduling with no queue
// raises fatal_error(). An explicit queue must outlive the handle's use of it.
#pragma once

#include <cstdint>
#include <functional>

#include "common/timer_queue.h"

namespace Core_Common {

class TimerHandle {
public:
    // Bound to `queue`, or to the process-wide queue when nullptr.
    explicit TimerHandle(TimerQueue* queue = nullptr) : m_queue(queue) {}
    // Cancels the timer if armed. Destroying an armed handle on a thread other
    // than the owner is a fatal error inside a destructor: the process ends.
    ~TimerHandle();
    TimerHandle(const TimerHandle&) = delete;
    TimerHandle& operator=(const TimerHandle&) = delete;

    // Arms the timer to become due `interval_ms` milliseconds from now:
    // one-shot when `repeat` is 0, periodic with that interval otherwise. An
    // armed timer is moved and gets the new callback and interval but keeps
    // its name. `name` is not owned, must stay valid while armed, and must not
    // be null. Intervals above 2^31 - 1 ms raise fatal_error().
    void schedule(std::uint32_t interval_ms, int repeat, const char* name,
                  std::function<void()> callback);

    // Disarms the timer if armed.
    void cancel();

    bool armed() const { return m_timer != nullptr; }
    // The armed timer's name, due stamp and interval (ONE_SHOT for one-shot);
    // only while armed.
    const char* name() const { return m_timer->m_name; }
    std::uint64_t due_stamp() const { return m_timer->m_due.m_stamp; }
    std::int32_t interval() const { return m_timer->m_interval; }

private:
    friend class TimerQueue;
    TimerQueue& queue() const;

    TimerQueue::timer_t* m_timer = nullptr;
    TimerQueue* m_queue = nullptr;
};

}  // namespace Core_Common
