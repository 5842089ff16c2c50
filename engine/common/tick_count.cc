#include "common/tick_count.h"

#include <mutex>

#include "platform/ticks.h"

namespace Core_Common {
namespace {

struct tick_state_t {
    std::recursive_mutex lock;
    bool started = false;
    std::uint32_t previous = 0;
    std::uint64_t offset = 0;
};

tick_state_t& state() {
    // Never destroyed: timers and stamps may be read during static destruction.
    static auto* the_state = new tick_state_t;
    return *the_state;
}

}  // namespace

std::uint64_t tick_count64() {
    tick_state_t& s = state();
    std::lock_guard<std::recursive_mutex> guard(s.lock);
    const std::uint32_t reading = Core_Platform::tick_count32();
    if (!s.started) {
        s.started = true;
    } else if (reading < s.previous) {
        s.offset += std::uint64_t{1} << 32;
    }
    s.previous = reading;
    return s.offset + reading;
}

}  // namespace Core_Common
