#include "common/interface_timer.h"

#include "common/timer_queue.h"

namespace Core_Common {

void InterfaceTimer::initialize() { TimerQueue::create_current(); }

void InterfaceTimer::start() {}

void InterfaceTimer::cleanup() {}

void InterfaceTimer::uninitialize() { TimerQueue::destroy_current(); }

void InterfaceTimer::report_status(std::ostream& out) {
    if (TimerQueue* queue = TimerQueue::current()) queue->report_status(out);
}

}  // namespace Core_Common
