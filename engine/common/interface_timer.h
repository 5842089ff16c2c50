// Public engine surface: the timer module.
//
// InterfaceTimer owns the process-wide TimerQueue (common/timer_queue.h):
//   - initialize: destroys any existing queue and creates a new one whose
//     owner thread is the calling thread;
//   - uninitialize: destroys the queue (every armed handle is disarmed);
//   - report_status: the queue's report ("==== InterfaceTimer ===== ");
//     nothing when there is no queue;
//   - start, stop, cleanup: nothing.
// The framework's pump runs the queue's due timers through
// TimerQueue::current()->run_due() after checking the owner thread.
//
// Thread rule: the main thread, like every module.
#pragma once

#include <ostream>

#include "framework/module.h"
#include "framework/singleton.h"

namespace Core_Common {

class InterfaceTimer : public InterfaceModule, public Singleton<InterfaceTimer> {
public:
    InterfaceTimer() = default;
    ~InterfaceTimer() override = default;

    void initialize() override;
    void start() override;
    void cleanup() override;
    void uninitialize() override;
    void report_status(std::ostream& out) override;
};

}  // namespace Core_Common
