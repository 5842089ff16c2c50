#include "common/interface_message.h"

#include "common/message_queue.h"

namespace Core_Common {

void InterfaceMessage::initialize() { MessageQueue::create_current(); }

void InterfaceMessage::start() {}

void InterfaceMessage::cleanup() {
    if (std::shared_ptr<MessageQueue> queue = MessageQueue::current()) queue->drain();
}

void InterfaceMessage::uninitialize() { MessageQueue::destroy_current(); }

}  // namespace Core_Common
