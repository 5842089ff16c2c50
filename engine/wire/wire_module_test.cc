#include "wire/wire_module.h"

#include <gtest/gtest.h>

#include "wire/wire_settings.h"

namespace Core_Wire {
namespace {

// Stand-ins for binding objects: only their addresses matter here.
InterfaceWireCallback* fake_client(std::uintptr_t n) {
    return reinterpret_cast<InterfaceWireCallback*>(n * 16);
}

TEST(WireModule, InitializeCopiesTheDispatchSettingAndClearsTheBindings) {
    InterfaceWire wire;
    ENABLE_WIRE_SOCKET_THREAD.store(true);
    wire.initialize();
    EXPECT_TRUE(wire_direct_dispatch.load());
    ENABLE_WIRE_SOCKET_THREAD.store(false);
    EXPECT_TRUE(wire_direct_dispatch.load());  // a copy, not a view
    wire.initialize();
    EXPECT_FALSE(wire_direct_dispatch.load());

    for (std::size_t i = 0; i < InterfaceWire::protocol_client_count; ++i) {
        EXPECT_TRUE(InterfaceWire::set_protocol_client(i, fake_client(i + 1)));
    }
    InterfaceWire::set_socket_func(reinterpret_cast<InterfaceSocketFunc*>(64));
    EXPECT_EQ(InterfaceWire::protocol_client(InterfaceWire::soap_client_index), fake_client(19));
    wire.initialize();
    for (std::size_t i = 0; i < InterfaceWire::protocol_client_count; ++i) {
        EXPECT_EQ(InterfaceWire::protocol_client(i), nullptr) << i;
    }
    EXPECT_EQ(InterfaceWire::socket_func(), nullptr);
}

TEST(WireModule, ProtocolClientTableRefusesIndicesPastItsEnd) {
    EXPECT_EQ(InterfaceWire::protocol_client_count, 21u);
    EXPECT_EQ(InterfaceWire::soap_client_index, 18u);
    EXPECT_FALSE(InterfaceWire::set_protocol_client(21, fake_client(1)));
    EXPECT_FALSE(InterfaceWire::set_protocol_client(1000, fake_client(1)));
    EXPECT_EQ(InterfaceWire::protocol_client(21), nullptr);
    EXPECT_EQ(InterfaceWire::protocol_client(static_cast<std::size_t>(-1)), nullptr);
}

TEST(WireModule, StoppingFlagFollowsStartAndCleanup) {
    InterfaceWire wire;
    wire.start();
    EXPECT_FALSE(InterfaceWire::is_stopping());
    wire.cleanup();
    EXPECT_TRUE(InterfaceWire::is_stopping());
    wire.start();
    EXPECT_FALSE(InterfaceWire::is_stopping());
}

}  // namespace
}  // namespace Core_Wire
