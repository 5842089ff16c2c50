// Public engine surface: the message module.
//
// InterfaceMessage owns the process-wide MessageQueue
// (common/message_queue.h):
//   - initialize: replaces any existing queue by a new empty one;
//   - cleanup: drains the queue once if it exists;
//   - uninitialize: destroys the queue, dropping undelivered messages without
//     running them;
//   - start: nothing; stop and report_status: the base behaviour.
// The framework's pump drains the queue through
// MessageQueue::current()->drain() after the due timers.
//
// Thread rule: the main thread, like every module.
#pragma once

#include "framework/module.h"
#include "framework/singleton.h"

namespace Core_Common {

class InterfaceMessage : public InterfaceModule, public Singleton<InterfaceMessage> {
public:
    InterfaceMessage() = default;
    ~InterfaceMessage() override = default;

    void initialize() override;
    void start() override;
    void cleanup() override;
    void uninitialize() override;
};

}  // namespace Core_Common
