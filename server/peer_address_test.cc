#include "peer_address.h"

#include <gtest/gtest.h>

namespace Core_Server {
namespace {

TEST(AddressKey, IPv6CountsByItsSlash64AndIPv4AsItself) {
    EXPECT_EQ(address_key("192.0.2.7"), "192.0.2.7");
    EXPECT_EQ(address_key("::ffff:192.0.2.7"), "192.0.2.7");
    EXPECT_EQ(address_key("2001:db8:1:2::1"), "2001:db8:1:2::/64");
    EXPECT_EQ(address_key("2001:db8:1:2:ffff:ffff:ffff:ffff"), "2001:db8:1:2::/64");
    EXPECT_NE(address_key("2001:db8:1:3::1"), address_key("2001:db8:1:2::1"));
    EXPECT_EQ(address_key("::1"), "0:0:0:0::/64");
    EXPECT_EQ(address_key(std::string(100, 'x')), std::string(64, 'x'));
}

}  // namespace
}  // namespace Core_Server
