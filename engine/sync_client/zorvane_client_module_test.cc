#include "sync_client/zorvane_client_module.h"

#include <gtest/gtest.h>

#include "common/interface_message.h"
#include "common/message_queue.h"
#include "sync_client/client_settings.h"
#include "sync_client/sync_client_testing.h"
#include "sync_client/zorvane_client.h"

namespace Core_ZorvaneClient {
namespace {

TEST(ZorvaneClientModule, OwnsTheClientFromInitializeToUninitialize) {
    Core_Common::MessageQueue::create_current();
    testing::scripted_transport transport;
    InterfaceZorvaneClient module;
    InterfaceZorvaneClient::reset_client();  // no client yet: nothing happens
    EXPECT_EQ(ZorvaneClient::instance(), nullptr);

    module.initialize();
    ZorvaneClient* first = ZorvaneClient::instance();
    ASSERT_NE(first, nullptr);
    EXPECT_TRUE(first->servlets().empty());
    module.start();
    ASSERT_EQ(first->servlets().size(), 1u);
    EXPECT_EQ(first->servlets()[0].m_host, "localhost");
    EXPECT_EQ(first->servlets()[0].m_port, 8080);

    first->set_user(u"alice", u"pa55", 0);
    first->start_update(false);
    EXPECT_EQ(first->status(), ACTION_UPDATING);
    module.cleanup();
    EXPECT_EQ(first->status(), ACTION_IDLE);
    EXPECT_EQ(transport.cancelled(), 1u);

    module.initialize();  // a second initialize replaces the client
    ASSERT_NE(ZorvaneClient::instance(), nullptr);
    EXPECT_EQ(ZorvaneClient::instance()->account().user_name, u"");
    module.uninitialize();
    EXPECT_EQ(ZorvaneClient::instance(), nullptr);
    Core_Common::MessageQueue::destroy_current();
}

TEST(ClientSettings, ServerHostAndDataDirectory) {
    EXPECT_EQ(server_host(), "localhost");
    set_server_host("example.org:9000");
    EXPECT_EQ(server_host(), "example.org:9000");
    set_server_host("");
    EXPECT_EQ(server_host(), "localhost");
    EXPECT_EQ(data_directory(), u"");
    set_data_directory(u"/tmp/d");
    EXPECT_EQ(data_directory(), u"/tmp/d");
    set_data_directory(u"");
}

}  // namespace
}  // namespace Core_ZorvaneClient
