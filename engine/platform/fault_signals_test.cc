#include "platform/fault_signals.h"

#include <gtest/gtest.h>

#include <thread>

namespace Core_Platform {
namespace {

TEST(FaultSignals, CaptureGivesThisThreadsRegisters) {
    int local = 0;
    fault_context_t context;
    context.signal = 99;
    capture_current_context(context);
    EXPECT_EQ(context.signal, 0);
#if defined(__x86_64__) || defined(__i386__)
    ASSERT_TRUE(context.has_registers);
    EXPECT_NE(context.ip, 0u);
    // The stack pointer is near this frame's locals.
    const auto here = reinterpret_cast<std::uintptr_t>(&local);
    EXPECT_LT(context.sp > here ? context.sp - here : here - context.sp, 64u * 1024);
#endif
    EXPECT_FALSE(context.write_access);
}

TEST(FaultSignals, GuardMarksOnlyItsThreadForItsLifetime) {
    EXPECT_TRUE(install_fault_handler(nullptr));
    EXPECT_FALSE(current_thread_guarded());
    bool inside = false;
    bool after = true;
    std::thread t([&] {
        {
            const thread_fault_guard guard;
            inside = current_thread_guarded();
        }
        after = current_thread_guarded();
    });
    t.join();
    EXPECT_TRUE(inside);
    EXPECT_FALSE(after);
    EXPECT_FALSE(current_thread_guarded());
}

}  // namespace
}  // namespace Core_Platform
