#include "peer_address.h"

#include <arpa/inet.h>
#include <netinet/in.h>

#include <cstdio>
#include <cstring>

namespace Core_Server {

std::string address_key(std::string_view address) {
    const std::string text(address.substr(0, 64));
    in_addr v4{};
    if (inet_pton(AF_INET, text.c_str(), &v4) == 1) return text;
    in6_addr v6{};
    if (inet_pton(AF_INET6, text.c_str(), &v6) != 1) return text;
    const unsigned char* b = v6.s6_addr;
    if (IN6_IS_ADDR_V4MAPPED(&v6)) {
        char out[INET_ADDRSTRLEN];
        std::memcpy(&v4, b + 12, 4);
        return inet_ntop(AF_INET, &v4, out, sizeof out);
    }
    char out[48];
    std::snprintf(out, sizeof out, "%x:%x:%x:%x::/64", b[0] << 8 | b[1], b[2] << 8 | b[3],
                  b[4] << 8 | b[5], b[6] << 8 | b[7]);
    return out;
}

}  // namespace Core_Server
