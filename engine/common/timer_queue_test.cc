#include "common/timer_queue.h"

#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <sstream>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "common/diagnostic_text.h"
#include "common/test_clock.h"
#include "common/tick_count.h"
#include "common/timer_handle.h"

namespace Core_Common {
namespace {

// Runs `f` on a new thread and tells whether it raised the fatal error.
template <class F>
bool fatal_on_other_thread(F f) {
    bool fatal = false;
    std::thread([&] {
        try {
            f();
        } catch (const std::runtime_error& e) {
            fatal = std::string(e.what()) == "crash";
        }
    }).join();
    return fatal;
}

class TimerQueueTest : public ::testing::Test {
protected:
    test_clock m_clock;
    TimerQueue m_queue;
    std::vector<std::string> m_fired;

    std::function<void()> record(std::string what) {
        return [this, what] { m_fired.push_back(what); };
    }
};

// ---- When timers become due --------------------------------------------

TEST_F(TimerQueueTest, IntervalZeroDoesNotFireInTheSameTick) {
    TimerHandle handle(&m_queue);
    handle.schedule(0, 0, "zero", record("zero"));
    m_queue.run_due();
    EXPECT_TRUE(m_fired.empty());
    EXPECT_TRUE(handle.armed());

    m_clock.advance(1);
    m_queue.run_due();
    EXPECT_EQ(m_fired, std::vector<std::string>{"zero"});
    EXPECT_FALSE(handle.armed());
}

TEST_F(TimerQueueTest, DueOnlyWhenStrictlyLaterThanTheDueTime) {
    TimerHandle handle(&m_queue);
    handle.schedule(100, 0, "t", record("t"));
    m_clock.advance(100);
    m_queue.run_due();
    EXPECT_TRUE(m_fired.empty());
    m_clock.advance(1);
    m_queue.run_due();
    EXPECT_EQ(m_fired.size(), 1u);
}

TEST_F(TimerQueueTest, SameDueTimeFiresTheLastScheduledFirst) {
    TimerHandle a(&m_queue), b(&m_queue), c(&m_queue);
    c.schedule(50, 0, "c", record("c"));  // due later than the other two
    a.schedule(10, 0, "a", record("a"));
    b.schedule(10, 0, "b", record("b"));
    m_clock.advance(100);
    m_queue.run_due();
    EXPECT_EQ(m_fired, (std::vector<std::string>{"b", "a", "c"}));
}

TEST_F(TimerQueueTest, PeriodicTimerKeepsItsCadence) {
    TimerHandle handle(&m_queue);
    handle.schedule(200, 1, "TCP connect pending", record("tick"));
    const std::uint64_t first_due = handle.due_stamp();
    for (int i = 0; i < 3; ++i) {
        m_clock.advance(201);
        m_queue.run_due();
    }
    EXPECT_EQ(m_fired.size(), 3u);
    EXPECT_EQ(handle.interval(), 200);
    // Not late by more than an interval: the due time moves by whole intervals.
    EXPECT_EQ(handle.due_stamp(), first_due + 3 * 200);
}

TEST_F(TimerQueueTest, StalledPeriodicTimerFiresOnceThenOneIntervalAfterTheReset) {
    TimerHandle handle(&m_queue);
    handle.schedule(200, 1, "TCP connect pending", record("tick"));
    m_clock.advance(1000);  // the pump stalled for five intervals
    m_queue.run_due();
    EXPECT_EQ(m_fired.size(), 1u);
    const std::uint64_t reset_point = tick_count64();
    EXPECT_EQ(handle.due_stamp(), reset_point + 200);

    m_clock.advance(1);
    m_queue.run_due();
    m_clock.advance(199);
    m_queue.run_due();
    EXPECT_EQ(m_fired.size(), 1u);  // no catching up
    m_clock.advance(1);
    m_queue.run_due();
    EXPECT_EQ(m_fired.size(), 2u);
}

TEST_F(TimerQueueTest, EachTimerFiresAtMostOncePerRun) {
    TimerHandle handle(&m_queue);
    handle.schedule(0, 1, "busy", record("busy"));
    m_clock.advance(5);
    m_queue.run_due();
    EXPECT_EQ(m_fired.size(), 1u);
}

TEST_F(TimerQueueTest, RealClockDrivesTimersToo) {
    // A cheap check with the real clock, outside the test clock.
    Core_Platform::set_tick_source(nullptr);
    TimerQueue queue;
    TimerHandle handle(&queue);
    int fired = 0;
    const timestamp_auto scheduled;
    handle.schedule(20, 0, "real", [&fired] { ++fired; });
    queue.run_due();
    // A loaded machine may take longer than the interval to get here.
    if (scheduled.elapsed_milliseconds() < 20) {
        EXPECT_EQ(fired, 0);
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
    queue.run_due();
    EXPECT_EQ(fired, 1);
}

// ---- Scheduling and cancelling ------------------------------------------

TEST_F(TimerQueueTest, ReschedulingKeepsTheNameAndMovesTheDueTime) {
    TimerHandle handle(&m_queue);
    handle.schedule(100, 0, "first name", record("old"));
    m_clock.advance(40);
    handle.schedule(500, 1, "second name", record("new"));
    EXPECT_STREQ(handle.name(), "first name");
    EXPECT_EQ(handle.due_stamp(), tick_count64() + 500);
    EXPECT_EQ(handle.interval(), 500);
    EXPECT_EQ(m_queue.armed_count(), 1u);

    m_clock.advance(101);
    m_queue.run_due();
    EXPECT_TRUE(m_fired.empty());
    m_clock.advance(400);
    m_queue.run_due();
    EXPECT_EQ(m_fired, std::vector<std::string>{"new"});
}

TEST_F(TimerQueueTest, CancelDisarmsAndHandleDestructionCancels) {
    {
        TimerHandle handle(&m_queue);
        handle.schedule(10, 0, "gone", record("gone"));
        EXPECT_EQ(m_queue.armed_count(), 1u);
    }
    EXPECT_EQ(m_queue.armed_count(), 0u);

    TimerHandle handle(&m_queue);
    handle.schedule(10, 1, "cancelled", record("cancelled"));
    handle.cancel();
    EXPECT_FALSE(handle.armed());
    handle.cancel();  // already disarmed: nothing
    m_clock.advance(100);
    m_queue.run_due();
    EXPECT_TRUE(m_fired.empty());
}

TEST_F(TimerQueueTest, CancellingAFiringPeriodicTimerInsideItsCallbackStopsIt) {
    TimerHandle handle(&m_queue);
    handle.schedule(10, 1, "self-cancel", [&] {
        m_fired.push_back("fired");
        handle.cancel();
    });
    m_clock.advance(11);
    m_queue.run_due();
    EXPECT_FALSE(handle.armed());
    m_clock.advance(100);
    m_queue.run_due();
    EXPECT_EQ(m_fired.size(), 1u);
}

TEST_F(TimerQueueTest, OneShotCallbackSeesItsHandleDisarmedAndMayRearmIt) {
    TimerHandle handle(&m_queue);
    bool armed_inside = true;
    int runs = 0;
    handle.schedule(10, 0, "again", [&] {
        armed_inside = handle.armed();
        handle.cancel();  // nothing to do
        if (++runs == 1) handle.schedule(10, 0, "again", [&] { ++runs; });
    });
    m_clock.advance(11);
    m_queue.run_due();
    EXPECT_FALSE(armed_inside);
    EXPECT_TRUE(handle.armed());
    m_clock.advance(11);
    m_queue.run_due();
    EXPECT_EQ(runs, 2);
}

TEST_F(TimerQueueTest, CallbacksMayCancelOtherDueTimers) {
    TimerHandle first(&m_queue), second(&m_queue);
    second.schedule(10, 0, "second", record("second"));
    first.schedule(10, 0, "first", [&] {  // scheduled last: fires first
        m_fired.push_back("first");
        second.cancel();
    });
    m_clock.advance(11);
    m_queue.run_due();
    EXPECT_EQ(m_fired, std::vector<std::string>{"first"});
}

TEST_F(TimerQueueTest, DestroyingTheQueueDisarmsItsHandles) {
    auto queue = std::make_unique<TimerQueue>();
    TimerHandle one_shot(queue.get()), periodic(queue.get());
    one_shot.schedule(10, 0, "one-shot", record("x"));
    periodic.schedule(10, 1, "periodic", record("x"));
    EXPECT_EQ(TimerQueue::record_figures().live, 2u);
    queue.reset();
    EXPECT_FALSE(one_shot.armed());
    EXPECT_FALSE(periodic.armed());
    EXPECT_EQ(TimerQueue::record_figures().live, 0u);
}

// ---- Budget ---------------------------------------------------------------

TEST_F(TimerQueueTest, RunStopsAfterTheCallbackThatCrossedOneSecond) {
    TimerHandle a(&m_queue), b(&m_queue), c(&m_queue);
    auto slow = [this](std::string what) {
        return [this, what] {
            m_fired.push_back(what);
            m_clock.advance(600);
        };
    };
    a.schedule(10, 0, "a", slow("a"));
    b.schedule(20, 0, "b", slow("b"));
    c.schedule(30, 0, "c", slow("c"));
    m_clock.advance(31);
    m_queue.run_due();
    EXPECT_EQ(m_fired, (std::vector<std::string>{"a", "b"}));  // 1200 ms > 1000 after b
    EXPECT_TRUE(c.armed());
    m_queue.run_due();
    EXPECT_EQ(m_fired, (std::vector<std::string>{"a", "b", "c"}));
}

TEST_F(TimerQueueTest, RunAtTheBudgetLimitGoesOn) {
    TimerHandle a(&m_queue), b(&m_queue);
    a.schedule(10, 0, "a", [&] {
        m_clock.advance(1000);
        m_fired.push_back("a");
    });
    b.schedule(20, 0, "b", record("b"));
    m_clock.advance(21);
    m_queue.run_due();
    EXPECT_EQ(m_fired, (std::vector<std::string>{"a", "b"}));
}

// ---- Failures ------------------------------------------------------------

TEST_F(TimerQueueTest, EmptyCallbackIsFatalAndNamedInTheDebugText) {
    TimerHandle handle(&m_queue);
    handle.schedule(5, 0, "nothing to run", std::function<void()>());
    m_clock.advance(6);
    try {
        m_queue.run_due();
        FAIL() << "no fatal error";
    } catch (const std::runtime_error& e) {
        EXPECT_STREQ(e.what(), "crash");
    }
    EXPECT_EQ(debug_info_text(), u"empty timer func:nothing to run");
    EXPECT_FALSE(handle.armed());  // the record was released before the fatal error
    EXPECT_EQ(m_queue.armed_count(), 0u);
    set_debug_info_text(u"");
}

TEST_F(TimerQueueTest, ExceptionFromACallbackLeavesTheQueueConsistent) {
    TimerHandle thrower(&m_queue), later(&m_queue);
    later.schedule(20, 0, "later", record("later"));
    thrower.schedule(10, 1, "thrower", [] { throw std::logic_error("callback failed"); });
    m_clock.advance(21);
    EXPECT_THROW(m_queue.run_due(), std::logic_error);
    EXPECT_TRUE(thrower.armed());  // re-armed before it ran
    EXPECT_EQ(m_queue.armed_count(), 2u);
    thrower.cancel();
    m_queue.run_due();
    EXPECT_EQ(m_fired, std::vector<std::string>{"later"});
}

TEST_F(TimerQueueTest, ForeignThreadsCannotScheduleOrCancel) {
    TimerHandle handle(&m_queue);
    EXPECT_TRUE(fatal_on_other_thread([&] { handle.schedule(10, 0, "foreign", record("x")); }));
    EXPECT_FALSE(handle.armed());

    handle.schedule(10, 0, "mine", record("mine"));
    EXPECT_TRUE(fatal_on_other_thread([&] { handle.cancel(); }));
    EXPECT_TRUE(handle.armed());
    EXPECT_TRUE(fatal_on_other_thread([&] { m_queue.check_owner(); }));
    EXPECT_NO_THROW(m_queue.check_owner());
}

TEST_F(TimerQueueTest, BadArgumentsAreFatal) {
    TimerHandle handle(&m_queue);
    EXPECT_THROW(handle.schedule(0x80000000u, 1, "too long", record("x")), std::runtime_error);
    EXPECT_THROW(handle.schedule(10, 0, nullptr, record("x")), std::runtime_error);
    EXPECT_FALSE(handle.armed());
    TimerHandle unbound;  // no process-wide queue in this test
    ASSERT_EQ(TimerQueue::current(), nullptr);
    EXPECT_THROW(unbound.schedule(10, 0, "nowhere", record("x")), std::runtime_error);
    EXPECT_NO_THROW(unbound.cancel());
}

// ---- Records --------------------------------------------------------------

TEST_F(TimerQueueTest, RecordsComeFromThePoolAndGoBack) {
    EXPECT_EQ(TimerQueue::record_figures().live, 0u);
    std::vector<std::unique_ptr<TimerHandle>> handles;
    for (int i = 0; i < 70; ++i) {
        handles.push_back(std::make_unique<TimerHandle>(&m_queue));
        handles.back()->schedule(static_cast<std::uint32_t>(i), 0, "many", record("many"));
    }
    const record_pool_figures_t busy = TimerQueue::record_figures();
    EXPECT_EQ(busy.live, 70u);
    EXPECT_GE(busy.capacity, 70u);
    m_clock.advance(100);
    m_queue.run_due();
    EXPECT_EQ(m_fired.size(), 70u);
    const record_pool_figures_t idle = TimerQueue::record_figures();
    EXPECT_EQ(idle.live, 0u);
    EXPECT_EQ(idle.chunks, 0u);  // an empty pool gives its memory back
}

// ---- Report ---------------------------------------------------------------

std::vector<std::string> lines_of(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
}

TEST_F(TimerQueueTest, ReportOfAnEmptyQueue) {
    m_queue.run_due();
    m_clock.advance(7);
    std::ostringstream out;
    m_queue.report_status(out);
    const std::vector<std::string> expected = {
        "==== InterfaceTimer ===== ",
        " Last timetick: 7ms ago, last successful timetick: 7ms ago",
        " TimerQueue::timer_t objects = 0, capacity = 0, mem = 0KB",
        " Timer: waiting timer number = 0",
        " current time: " + std::to_string(tick_count64()),
    };
    EXPECT_EQ(lines_of(out.str()), expected);
}

TEST_F(TimerQueueTest, ReportListsTimersInQueueOrder) {
    TimerHandle soon(&m_queue), later(&m_queue);
    later.schedule(5500, 1, "TCP connect pending", record("x"));
    soon.schedule(1999, 0, "soon", record("x"));
    const std::uint64_t now = tick_count64();
    const record_pool_figures_t figures = TimerQueue::record_figures();
    std::ostringstream out;
    m_queue.report_status(out);
    const std::vector<std::string> lines = lines_of(out.str());
    ASSERT_EQ(lines.size(), 9u);
    EXPECT_EQ(lines[2],
              " TimerQueue::timer_t objects = 2, capacity = " + std::to_string(figures.capacity) +
                  ", mem = " + std::to_string(figures.chunk_bytes / 1024) + "KB");
    EXPECT_EQ(lines[3], " Timer: waiting timer number = 2");
    EXPECT_EQ(lines[4], " Timer: waiting time (first timer)= 1s, name=soon");
    EXPECT_EQ(lines[5], " Timer: waiting time (last timer )= 5s, name=TCP connect pending");
    EXPECT_EQ(lines[6], " current time: " + std::to_string(now));
    EXPECT_EQ(lines[7], " Timer[0]: " + std::to_string(now + 1999) +
                            ", waiting time = 1s, interval=-1ms, name=soon");
    EXPECT_EQ(lines[8], " Timer[1]: " + std::to_string(now + 5500) +
                            ", waiting time = 5s, interval=5500ms, name=TCP connect pending");

    // Overdue timers show negative waiting times.
    m_clock.advance(7600);
    std::ostringstream late;
    m_queue.report_status(late);
    EXPECT_EQ(lines_of(late.str())[4], " Timer: waiting time (first timer)= -5s, name=soon");
}

}  // namespace
}  // namespace Core_Common
