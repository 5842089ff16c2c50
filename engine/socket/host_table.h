// Public engine surface: a replaceable table of host names for the socket
// layer's name resolution.
//
// A name found in the table resolves to its listed numeric addresses, in the
// listed order, without asking the system's resolver; other names go to the
// system. The table starts empty and nothing in the engine fills it: it lets
// a test give a name several loopback addresses (the system's own table
// usually has one), so connecting to the endpoints in order can be observed.
//
// Thread rule: any thread; the table is guarded by its own lock.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace Core_Socket {

// Adds or replaces the addresses of `name`.
void set_host_addresses(const std::string& name, std::vector<std::string> addresses);
// Removes every entry.
void clear_host_table();
// The addresses of `name`, or nothing when the table does not hold it.
std::optional<std::vector<std::string>> host_table_lookup(const std::string& name);

}  // namespace Core_Socket
