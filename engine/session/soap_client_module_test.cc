#include "session/soap_client_module.h"

#include <gtest/gtest.h>

#include "framework/registry.h"
#include "session/soap_handler.h"
#include "socket/scripted_peer_testing.h"
#include "startup/framework.h"

namespace Core_SOAPClient {
namespace {

using namespace std::chrono_literals;
using Core_Socket::testing::PeerConnection;
using Core_Socket::testing::ScriptedPeer;

class caller final : public InterfaceSOAPClientSimpleHandler {
public:
    void on_reply(const Core_Common::soap_client_received_t& received) override {
        bodies.push_back(received.m_body);
    }
    void on_error(const Core_Common::service_error_t& error,
                  const boost::system::error_code&) override {
        codes.push_back(error.code);
    }
    std::vector<std::string> bodies;
    std::vector<std::int32_t> codes;
};

// The whole road through the framework as the engine runs it: start-up
// binds the layers, a request goes out on its own connection, the reply
// comes back inside the pump, and shutdown tears everything down.
TEST(SessionClientInFramework, RequestAndReplyTravelThroughTheStartedEngine) {
    ScriptedPeer peer([](PeerConnection& c) {
        std::string request = c.read_request();
        std::string reply = std::string("\0\x14\0\1\0\0\0\2", 8) + request.substr(24, 8) +
                            std::string(4, '\0') + "ok";
        c.write(reply);
        c.wait_closed(5s);
    });
    Core_Common::start_framework();
    Core_Common::start_modules();
    ASSERT_TRUE(Core_Common::layer_bindings_registered());
    {
        caller handler;
        handler.set_server("127.0.0.1:" + std::to_string(peer.port()), 8080, 0, 0);
        handler.send("request body");
        const auto deadline = std::chrono::steady_clock::now() + 10s;
        while (handler.bodies.empty() && handler.codes.empty() &&
               std::chrono::steady_clock::now() < deadline) {
            Core_Common::process_pending();
            std::this_thread::sleep_for(1ms);
        }
        EXPECT_EQ(handler.bodies, std::vector<std::string>{"ok"});
        EXPECT_TRUE(handler.codes.empty());
    }
    Core_Common::stop_framework();
    EXPECT_TRUE(Core_Common::registered_modules().empty());
    EXPECT_TRUE(peer.wait_finished(1, 10s));
}

}  // namespace
}  // namespace Core_SOAPClient
