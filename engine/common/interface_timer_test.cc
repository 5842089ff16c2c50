#include "common/interface_timer.h"

#include <gtest/gtest.h>

#include <sstream>
#include <stdexcept>
#include <thread>

#include "common/test_clock.h"
#include "common/timer_handle.h"
#include "common/timer_queue.h"
#include "platform/threads.h"

namespace Core_Common {
namespace {

TEST(InterfaceTimer, InitializeCreatesTheProcessQueueOwnedByTheCaller) {
    test_clock clock;
    auto* module = new InterfaceTimer;
    InterfaceTimer::reset_instance(module);
    EXPECT_EQ(TimerQueue::current(), nullptr);

    module->initialize();
    TimerQueue* queue = TimerQueue::current();
    ASSERT_NE(queue, nullptr);
    EXPECT_EQ(queue->owner_thread_id(), Core_Platform::current_thread_id());

    // Handles bound to no queue use the process-wide one.
    TimerHandle handle;
    int fired = 0;
    handle.schedule(10, 1, "TCP connect pending", [&fired] { ++fired; });
    clock.advance(11);
    TimerQueue::current()->run_due();
    EXPECT_EQ(fired, 1);

    std::ostringstream report;
    module->report_status(report);
    EXPECT_EQ(report.str().rfind("==== InterfaceTimer ===== \n", 0), 0u);
    EXPECT_NE(report.str().find("name=TCP connect pending"), std::string::npos);

    // Initializing again replaces the queue and disarms the old one's handles.
    module->initialize();
    EXPECT_FALSE(handle.armed());
    ASSERT_NE(TimerQueue::current(), nullptr);

    handle.schedule(10, 1, "TCP connect pending", [&fired] { ++fired; });
    module->start();
    module->cleanup();
    EXPECT_TRUE(handle.armed());
    module->uninitialize();
    EXPECT_EQ(TimerQueue::current(), nullptr);
    EXPECT_FALSE(handle.armed());
    std::ostringstream empty;
    module->report_status(empty);
    EXPECT_TRUE(empty.str().empty());

    InterfaceTimer::reset_instance();
    EXPECT_EQ(InterfaceTimer::instance(), nullptr);
}

TEST(InterfaceTimer, OwnerIsTheThreadThatInitialized) {
    InterfaceTimer module;
    std::thread([&module] { module.initialize(); }).join();
    TimerHandle handle;
    EXPECT_THROW(handle.schedule(10, 0, "main", [] {}), std::runtime_error);
    EXPECT_THROW(TimerQueue::current()->check_owner(), std::runtime_error);
    module.uninitialize();
}

}  // namespace
}  // namespace Core_Common
