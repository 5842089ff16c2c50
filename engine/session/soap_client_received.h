// Public engine surface: a reply of the server as the session client hands
// it to its caller.
#pragma once

#include <cstdint>
#include <string>

namespace Core_Common {

struct soap_client_received_t {
    // The server's IPv4 address, network byte order (0 when unknown).
    std::uint32_t m_address = 0;
    // The reply body, byte for byte.
    std::string m_body;
};

}  // namespace Core_Common
