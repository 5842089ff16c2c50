#include "platform/random.h"

#include <sys/random.h>

#include <boost/system/system_error.hpp>
#include <cerrno>

namespace Core_Platform {

void system_random(void* buffer, std::size_t count) {
    auto* out = static_cast<unsigned char*>(buffer);
    while (count > 0) {
        const ssize_t got = ::getrandom(out, count, 0);
        if (got < 0) {
            if (errno == EINTR) continue;
            throw boost::system::system_error(
                boost::system::error_code(errno, boost::system::system_category()));
        }
        out += got;
        count -= static_cast<std::size_t>(got);
    }
}

}  // namespace Core_Platform
