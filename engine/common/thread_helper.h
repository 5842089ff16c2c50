// Public engine surface: priorities of service threads.
//
// Four priorities, given to thread_basic::start_thread
// (common/thread_basic.h). Each maps to a level of the platform's scale
// (platform/threads.h): 0 above normal (1), 1 normal (0), 2 below normal (-1),
// 3 idle (-15); any other value is normal (0).
//
// Thread rule: set_current_thread_priority acts on the calling thread; any
// thread may call either function.
#pragma once

#include <cstdint>

namespace Core_Common {

struct thread_helper {
    enum thread_priority_enum : std::int32_t {
        PRIORITY_ABOVE_NORMAL = 0,
        PRIORITY_NORMAL = 1,
        PRIORITY_BELOW_NORMAL = 2,
        PRIORITY_IDLE = 3,
    };

    // The level a priority maps to.
    static int thread_level(thread_priority_enum priority);
    // Applies `priority` to the calling thread. Returns false when the system
    // refused (raising a priority needs a privilege); the thread then keeps
    // its priority.
    static bool set_current_thread_priority(thread_priority_enum priority);
};

}  // namespace Core_Common
