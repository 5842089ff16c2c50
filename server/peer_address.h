// Internal to the server: the key under which a client's address is counted
// (connections per address, failed logins per address).
//
// One person or machine on IPv6 has a whole /64 network to pick addresses
// from, so an IPv6 address counts by its first 64 bits; an IPv4 address
// counts as itself, also when it comes as an IPv4-mapped IPv6 address.
//
// Pure and thread-safe.
#pragma once

#include <string>
#include <string_view>

namespace Core_Server {

// "192.0.2.7" for 192.0.2.7 and ::ffff:192.0.2.7; "2001:db8:1:2::/64" for
// every address of 2001:db8:1:2::/64. Text that is no IP address is its own
// key (cut to 64 bytes).
std::string address_key(std::string_view address);

}  // namespace Core_Server
