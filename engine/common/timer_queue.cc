#include "common/timer_queue.h"

#include <algorithm>
#include <atomic>
#include <limits>

#include "common/diagnostic_text.h"
#include "common/fatal_error.h"
#include "common/shared_record_pool.h"
#include "common/tick_count.h"
#include "common/timer_handle.h"
#include "platform/strings.h"
#include "platform/threads.h"

namespace Core_Common {
namespace {

using timer_records = shared_record_pool<TimerQueue::timer_t>;

// The process-wide queue, owned here; written only by the owner thread during
// start-up and shutdown, readable from any thread.
std::atomic<TimerQueue*> g_current{nullptr};

}  // namespace

TimerQueue::TimerQueue() : m_owner_thread_id(Core_Platform::current_thread_id()) {}

TimerQueue::~TimerQueue() {
    std::lock_guard<std::recursive_mutex> guard(m_lock);
    for (timer_t* record : m_timers) release_record(record);
    m_timers.clear();
}

TimerQueue* TimerQueue::current() { return g_current.load(std::memory_order_acquire); }

TimerQueue* TimerQueue::create_current() {
    destroy_current();
    auto* queue = new TimerQueue;
    g_current.store(queue, std::memory_order_release);
    return queue;
}

void TimerQueue::destroy_current() {
    delete g_current.exchange(nullptr, std::memory_order_acq_rel);
}

void TimerQueue::check_owner() const {
    if (Core_Platform::current_thread_id() != m_owner_thread_id) fatal_error();
}

void TimerQueue::release_record(timer_t* record) {
    if (record->m_handle != nullptr) record->m_handle->m_timer = nullptr;
    timer_records::destroy(record);
}

void TimerQueue::insert(timer_t* record) {
    // Before every record with an equal due time: among timers due at the
    // same millisecond the one inserted last fires first.
    const auto key = static_cast<std::int64_t>(record->m_due.m_stamp);
    auto at = std::lower_bound(m_timers.begin(), m_timers.end(), key,
                               [](const timer_t* t, std::int64_t k) {
                                   return static_cast<std::int64_t>(t->m_due.m_stamp) < k;
                               });
    m_timers.insert(at, record);
}

void TimerQueue::remove(timer_t* record) {
    auto at = std::find(m_timers.begin(), m_timers.end(), record);
    if (at != m_timers.end()) m_timers.erase(at);
}

void TimerQueue::schedule(TimerHandle& handle, std::uint32_t interval_ms, int repeat,
                          const char* name, std::function<void()> callback) {
    check_owner();
    if (name == nullptr ||
        interval_ms > static_cast<std::uint32_t>(std::numeric_limits<std::int32_t>::max())) {
        fatal_error();
    }
    const std::int32_t interval = repeat == 0 ? ONE_SHOT : static_cast<std::int32_t>(interval_ms);

    timer_t* record = handle.m_timer;
    if (record != nullptr) {
        std::lock_guard<std::recursive_mutex> guard(m_lock);
        record->m_due.reset();
        remove(record);
        record->m_callback = std::move(callback);
        record->m_due.add_milliseconds(interval_ms);
        record->m_interval = interval;  // the record keeps its name
    } else {
        record = timer_records::create(RECORD_NAME);
        record->m_handle = &handle;
        record->m_callback = std::move(callback);
        record->m_due.add_milliseconds(interval_ms);
        record->m_name = name;
        record->m_interval = interval;
    }
    std::lock_guard<std::recursive_mutex> guard(m_lock);
    insert(record);
    handle.m_timer = record;
}

void TimerQueue::cancel(TimerHandle& handle) {
    check_owner();
    timer_t* record = handle.m_timer;
    if (record == nullptr) return;
    {
        std::lock_guard<std::recursive_mutex> guard(m_lock);
        remove(record);
    }
    handle.m_timer = nullptr;
    record->m_handle = nullptr;
    timer_records::destroy(record);
}

void TimerQueue::run_due() {
    m_last_timetick.reset();
    const std::uint64_t now = tick_count64();

    std::lock_guard<std::recursive_mutex> guard(m_lock);
    while (!m_timers.empty()) {
        timer_t* record = m_timers.front();
        // Due only when the run's reading is strictly later than the due time.
        if (static_cast<std::int64_t>(now - record->m_due.m_stamp) < 1) break;

        m_timers.erase(m_timers.begin());
        std::function<void()> callback = record->m_callback;
        const char* name = record->m_name;
        if (record->m_interval == ONE_SHOT) {
            release_record(record);
        } else {
            record->m_due.add_milliseconds(record->m_interval);
            if (static_cast<std::int64_t>(now - record->m_due.m_stamp) > 0) {
                // Fallen behind: do not fire again to catch up; next due one
                // interval after now.
                record->m_due.reset();
                record->m_due.add_milliseconds(record->m_interval);
            }
            insert(record);
        }

        if (!callback) {
            std::u16string text = u"empty timer func:";
            text += Core_Platform::ansi_to_wide(name);
            set_debug_info_text(text);
            fatal_error();
        }
        callback();
        m_last_successful_timetick.reset();
        if (m_last_timetick.elapsed_milliseconds() > RUN_BUDGET_MS) break;
    }
}

void TimerQueue::report_status(std::ostream& out) {
    std::lock_guard<std::recursive_mutex> guard(m_lock);
    out << "==== InterfaceTimer ===== " << std::endl;
    out << " Last timetick: " << m_last_timetick.elapsed_milliseconds()
        << "ms ago, last successful timetick: " << m_last_successful_timetick.elapsed_milliseconds()
        << "ms ago" << std::endl;
    const record_pool_figures_t figures = record_figures();
    out << " TimerQueue::timer_t objects = " << figures.live << ", capacity = " << figures.capacity
        << ", mem = " << figures.chunk_bytes / 1024 << "KB" << std::endl;
    out << " Timer: waiting timer number = " << m_timers.size() << std::endl;
    if (!m_timers.empty()) {
        const timer_t* first = m_timers.front();
        const timer_t* last = m_timers.back();
        out << " Timer: waiting time (first timer)= " << -first->m_due.elapsed_seconds()
            << "s, name=" << first->m_name << std::endl;
        out << " Timer: waiting time (last timer )= " << -last->m_due.elapsed_seconds()
            << "s, name=" << last->m_name << std::endl;
    }
    out << " current time: " << tick_count64() << std::endl;
    for (std::size_t i = 0; i < m_timers.size(); ++i) {
        const timer_t* t = m_timers[i];
        out << " Timer[" << i << "]: " << t->m_due.m_stamp
            << ", waiting time = " << -t->m_due.elapsed_seconds() << "s, interval=" << t->m_interval
            << "ms, name=" << t->m_name << std::endl;
    }
}

std::size_t TimerQueue::armed_count() const {
    std::lock_guard<std::recursive_mutex> guard(m_lock);
    return m_timers.size();
}

record_pool_figures_t TimerQueue::record_figures() { return timer_records::figures(); }

TimerHandle::~TimerHandle() {
    if (m_timer != nullptr) cancel();
}

TimerQueue& TimerHandle::queue() const {
    TimerQueue* q = m_queue != nullptr ? m_queue : TimerQueue::current();
    if (q == nullptr) fatal_error();
    return *q;
}

void TimerHandle::schedule(std::uint32_t interval_ms, int repeat, const char* name,
                           std::function<void()> callback) {
    queue().schedule(*this, interval_ms, repeat, name, std::move(callback));
}

void TimerHandle::cancel() {
    if (m_timer == nullptr && m_queue == nullptr && TimerQueue::current() == nullptr) return;
    queue().cancel(*this);
}

}  // namespace Core_Common
