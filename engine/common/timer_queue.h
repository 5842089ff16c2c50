// Public engine surface: the process's timers.
//
// A timer is a named callback that becomes due a number of milliseconds after
// it is scheduled and then runs once (one-shot) or again every interval
// (periodic). Users arm timers through a TimerHandle (common/timer_handle.h);
// this header is the queue that holds and fires them.
//
// All timers of the process live in one TimerQueue, sorted by due time. The
// queue belongs to the thread that created it (the owner thread): timers are
// scheduled, cancelled and fired only there. No thread of its own drives the
// queue: the framework's pump calls run_due(), which fires every timer due at
// that moment within a budget of 1000 ms.
//
// Due times are on the tick_count64() scale. A timer is due when the run's
// reading is strictly later than its due time, so a timer scheduled with
// interval 0 fires in the first run at least 1 ms later. Among timers due at
// the same millisecond, the one scheduled last fires first. A periodic timer
// that has fallen behind (its pump stalled) fires once and is then due one
// interval after the moment it fired; it never fires again to catch up.
//
// Ownership: the queue owns the armed records (from the timer records'
// shared_record_pool); a record points back to the handle that armed it.
// Destroying the queue disarms every handle still armed; the handles survive.
// The process-wide queue is created and destroyed by InterfaceTimer
// (common/interface_timer.h).
#pragma once

#include <cstdint>
#include <functional>
#include <mutex>
#include <ostream>
#include <vector>

#include "common/record_pool.h"
#include "common/timestamp_auto.h"

namespace Core_Common {

class TimerHandle;

class TimerQueue {
public:
    // One armed timer.
    struct timer_t {
        // The handle that armed it; its timer is emptied through this pointer
        // when the queue releases the record.
        TimerHandle* m_handle = nullptr;
        // What the timer runs; an empty callback that becomes due is a fatal
        // error.
        std::function<void()> m_callback;
        // Due time; its stamp is the sort key.
        timestamp_auto m_due;
        // Not owned; must stay valid while armed; never null.
        const char* m_name = "";
        // Period in milliseconds; ONE_SHOT marks a one-shot timer.
        std::int32_t m_interval = ONE_SHOT;
    };

    static constexpr std::int32_t ONE_SHOT = -1;
    // The longest one run_due() keeps firing timers, in milliseconds.
    static constexpr std::int64_t RUN_BUDGET_MS = 1000;
    // The chunk name of the timer records.
    static constexpr const char* RECORD_NAME = "TimerQueue::timer_t";

    // An empty queue owned by the calling thread.
    TimerQueue();
    // Disarms every armed handle and returns the records. Owner thread only.
    ~TimerQueue();
    TimerQueue(const TimerQueue&) = delete;
    TimerQueue& operator=(const TimerQueue&) = delete;

    // The process-wide queue, or nullptr before InterfaceTimer's initialize
    // and after its uninitialize. May be read from any thread.
    static TimerQueue* current();
    // Destroys the process-wide queue, if any, and creates a new one owned by
    // the calling thread.
    static TimerQueue* create_current();
    // Destroys the process-wide queue, if any; current() becomes nullptr.
    static void destroy_current();

    std::uint32_t owner_thread_id() const { return m_owner_thread_id; }
    // Raises fatal_error() unless called on the owner thread.
    void check_owner() const;

    // Fires the due timers (owner thread only; the pump checks the owner
    // before calling). A record is re-armed or released before its callback
    // runs, so a callback may schedule or cancel any timer, its own included.
    // An exception from a callback leaves run_due with the queue consistent.
    // A due timer with an empty callback puts "empty timer func:" and its name
    // into debug_info_text and raises fatal_error().
    void run_due();

    // The diagnostic report ("==== InterfaceTimer ===== " and the lines after
    // it). Owner thread only.
    void report_status(std::ostream& out);

    // Number of armed timers. Owner thread only.
    std::size_t armed_count() const;

    // Figures of the timer records' pool (taken under the pool's lock).
    static record_pool_figures_t record_figures();

private:
    friend class TimerHandle;

    void schedule(TimerHandle& handle, std::uint32_t interval_ms, int repeat, const char* name,
                  std::function<void()> callback);
    void cancel(TimerHandle& handle);
    // Both under m_lock.
    void insert(timer_t* record);
    void remove(timer_t* record);
    static void release_record(timer_t* record);

    std::uint32_t m_owner_thread_id;
    std::vector<timer_t*> m_timers;  // sorted by due stamp, ascending
    mutable std::recursive_mutex m_lock;
    timestamp_auto m_last_timetick;
    timestamp_auto m_last_successful_timetick;
};

}  // namespace Core_Common
