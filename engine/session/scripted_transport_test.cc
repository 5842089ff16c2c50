#include <gtest/gtest.h>

#include "platform/socket_errors.h"
#include "session/scripted_transport_testing.h"
#include "startup/network_stack_testing.h"

namespace Core_SOAPClient {
namespace {

using Core_Wire::testing::network_stack;

class caller final : public InterfaceSOAPClientSimpleHandler {
public:
    void on_reply(const Core_Common::soap_client_received_t& received) override {
        log.push_back("reply:" + received.m_body);
    }
    void on_error(const Core_Common::service_error_t& error,
                  const boost::system::error_code& ec) override {
        log.push_back("error:" + std::to_string(error.code) + ":" + std::to_string(ec.value()));
    }
    std::vector<std::string> log;
};

TEST(ScriptedTransport, AnswersArriveThroughTheMessageQueueOnThePump) {
    network_stack stack;
    scripted_transport_t transport;
    caller handler;
    handler.set_server("sync.example", 8080, 0, 0);
    handler.send("commit");
    ASSERT_EQ(transport.requests().size(), 1u);
    EXPECT_EQ(transport.requests()[0].m_body, "commit");
    EXPECT_EQ(transport.requests()[0].m_host, "sync.example");
    EXPECT_EQ(transport.requests()[0].m_port, 8080);
    EXPECT_EQ(transport.requests()[0].m_sequence, 1u);
    ASSERT_TRUE(transport.reply("answer"));
    EXPECT_TRUE(handler.log.empty());  // never from inside the answering call
    network_stack::pump();
    EXPECT_EQ(handler.log, (std::vector<std::string>{"reply:answer"}));
    EXPECT_FALSE(handler.busy());

    handler.send("update");
    ASSERT_TRUE(transport.disconnect(Core_Platform::make_socket_error(10060)));
    network_stack::pump();
    EXPECT_EQ(handler.log.back(), "error:4:10060");
    EXPECT_EQ(transport.requests()[1].m_sequence, 2u);
}

TEST(ScriptedTransport, AbandonedSessionsLeaveSilently) {
    network_stack stack;
    scripted_transport_t transport;
    caller handler;
    handler.set_server("sync.example", 8080, 0, 0);
    handler.send("first");
    ASSERT_TRUE(transport.reply("late"));  // answered, message queued...
    handler.send("second");                // ...then abandoned: no callback for it
    EXPECT_EQ(transport.open_sessions(), 1u);
    handler.cancel();
    EXPECT_EQ(transport.open_sessions(), 0u);
    EXPECT_FALSE(transport.reply("nobody"));
    network_stack::pump();
    EXPECT_TRUE(handler.log.empty());
}

}  // namespace
}  // namespace Core_SOAPClient
