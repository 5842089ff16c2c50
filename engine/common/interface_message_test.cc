#include "common/interface_message.h"

#include <gtest/gtest.h>

#include <vector>

#include "common/message_queue.h"
#include "common/message_token.h"

namespace Core_Common {
namespace {

TEST(InterfaceMessage, LifeCycleOwnsTheProcessQueue) {
    auto* module = new InterfaceMessage;
    InterfaceMessage::reset_instance(module);
    EXPECT_FALSE(MessageQueue::current());

    module->initialize();
    ASSERT_TRUE(MessageQueue::current());
    module->start();

    std::vector<int> ran;
    MessageToken token;
    token.post([&ran] { ran.push_back(1); });
    token.post([&ran] { ran.push_back(2); });
    module->cleanup();  // drains once
    EXPECT_EQ(ran, (std::vector<int>{1, 2}));

    // Initializing again starts from an empty queue.
    token.post([&ran] { ran.push_back(3); });
    module->initialize();
    EXPECT_EQ(MessageQueue::current()->size(), 0u);

    token.post([&ran] { ran.push_back(4); });
    module->uninitialize();  // drops without running
    EXPECT_FALSE(MessageQueue::current());
    module->cleanup();  // no queue: nothing
    EXPECT_EQ(ran, (std::vector<int>{1, 2}));

    InterfaceMessage::reset_instance();
}

}  // namespace
}  // namespace Core_Common
