#include "platform/resource_usage.h"

#include <sys/resource.h>

namespace Core_Platform {

std::uint64_t peak_resident_bytes() {
    struct rusage usage {};
    if (getrusage(RUSAGE_SELF, &usage) != 0) return 0;
    return static_cast<std::uint64_t>(usage.ru_maxrss) * 1024;  // reported in KiB
}

}  // namespace Core_Platform
