#include "common/thread_basic.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <future>
#include <memory>
#include <stdexcept>
#include <string>
#include <thread>

#include "common/thread_crash.h"
#include "platform/threads.h"

namespace Core_Common {
namespace {

using priority_t = thread_helper::thread_priority_enum;

TEST(ThreadHelper, PrioritiesMapToTheirLevels) {
    EXPECT_EQ(thread_helper::thread_level(thread_helper::PRIORITY_ABOVE_NORMAL), 1);
    EXPECT_EQ(thread_helper::thread_level(thread_helper::PRIORITY_NORMAL), 0);
    EXPECT_EQ(thread_helper::thread_level(thread_helper::PRIORITY_BELOW_NORMAL), -1);
    EXPECT_EQ(thread_helper::thread_level(thread_helper::PRIORITY_IDLE), -15);
    EXPECT_EQ(thread_helper::thread_level(static_cast<priority_t>(7)), 0);
    EXPECT_EQ(thread_helper::thread_level(static_cast<priority_t>(-1)), 0);
}

// The nice value a service thread started at `priority` runs with.
int nice_of_thread_started_at(priority_t priority) {
    std::promise<int> nice;
    thread_basic thread;
    thread.start_thread([&nice] { nice.set_value(Core_Platform::current_thread_nice()); },
                        "PriorityProbe", priority);
    const int value = nice.get_future().get();
    thread.join();
    return value;
}

TEST(ThreadBasic, StartsThreadsAtTheirPriorities) {
    const int inherited = Core_Platform::current_thread_nice();
    const struct {
        int priority;
        int nice;
    } cases[] = {{0, -5}, {1, 0}, {2, 5}, {3, 19}, {7, 0}};
    for (const auto& c : cases) {
        SCOPED_TRACE("priority " + std::to_string(c.priority));
        const int nice = nice_of_thread_started_at(static_cast<priority_t>(c.priority));
        if (c.nice < inherited && nice == inherited) {
            // Raising the priority needs a privilege this process lacks.
            continue;
        }
        EXPECT_EQ(nice, c.nice);
    }
}

TEST(ThreadBasic, RunsTheCallableOnANamedThreadAndClearsRunning) {
    thread_basic thread;
    EXPECT_FALSE(thread.running());
    std::promise<void> go;
    std::shared_future<void> released = go.get_future().share();
    std::string name;
    std::uint32_t id = 0;
    thread.start_thread(
        [&, released] {
            name = Core_Platform::current_thread_name();
            id = Core_Platform::current_thread_id();
            released.wait();
        },
        "SocketOutgoingThread", thread_helper::PRIORITY_NORMAL);
    EXPECT_TRUE(thread.running());
    go.set_value();
    thread.join();
    EXPECT_FALSE(thread.running());
    EXPECT_EQ(name, "SocketOutgoingT");  // cut to the 15 bytes the system keeps
    EXPECT_NE(id, Core_Platform::current_thread_id());
    thread.join();  // joined already: nothing
}

TEST(ThreadBasic, DestroyingTheObjectWhileItsThreadRunsIsSafe) {
    std::promise<void> go;
    std::shared_future<void> released = go.get_future().share();
    auto finished = std::make_shared<std::atomic<bool>>(false);
    {
        thread_basic thread;
        thread.start_thread(
            [released, finished] {
                released.wait();
                finished->store(true);
            },
            "Detached", thread_helper::PRIORITY_NORMAL);
    }  // the thread is detached and keeps its own state
    go.set_value();
    for (int i = 0; i < 500 && !finished->load(); ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    EXPECT_TRUE(finished->load());
    // Give the detached thread time to leave before the test ends.
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
}

TEST(ThreadBasic, StartingAgainReplacesTheThread) {
    thread_basic thread;
    std::atomic<int> runs{0};
    thread.start_thread([&runs] { ++runs; }, "First", thread_helper::PRIORITY_NORMAL);
    thread.join();
    thread.start_thread([&runs] { ++runs; }, "Second", thread_helper::PRIORITY_IDLE);
    thread.join();
    EXPECT_EQ(runs.load(), 2);
    EXPECT_FALSE(thread.running());
}

TEST(ThreadBasicDeathTest, EscapingExceptionEndsTheProcessWithCode100) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(
        {
            thread_basic thread;
            thread.start_thread([] { throw std::runtime_error("crash"); }, "SocketIncoming",
                                thread_helper::PRIORITY_NORMAL);
            thread.join();
            std::this_thread::sleep_for(std::chrono::seconds(5));
        },
        ::testing::ExitedWithCode(THREAD_CRASH_EXIT_CODE),
        "Exception_Debuger: uncaught exception on thread \"SocketIncoming\": crash");
}

TEST(ThreadBasicDeathTest, EmptyCallableIsACrashToo) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(
        {
            thread_basic thread;
            thread.start_thread(std::function<void()>(), "SocketUDP",
                                thread_helper::PRIORITY_NORMAL);
            thread.join();
            std::this_thread::sleep_for(std::chrono::seconds(5));
        },
        ::testing::ExitedWithCode(100), "thread \"SocketUDP\"");
}

}  // namespace
}  // namespace Core_Common
