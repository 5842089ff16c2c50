#include "common/main_thread.h"

#include "common/timer_queue.h"

namespace Core_Common {

void expect_main_thread() {
    if (const TimerQueue* timers = TimerQueue::current()) timers->check_owner();
}

}  // namespace Core_Common
