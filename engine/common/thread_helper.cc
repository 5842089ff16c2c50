#include "common/thread_helper.h"

#include "platform/threads.h"

namespace Core_Common {

int thread_helper::thread_level(thread_priority_enum priority) {
    switch (priority) {
        case PRIORITY_ABOVE_NORMAL:
            return Core_Platform::THREAD_LEVEL_ABOVE_NORMAL;
        case PRIORITY_NORMAL:
            return Core_Platform::THREAD_LEVEL_NORMAL;
        case PRIORITY_BELOW_NORMAL:
            return Core_Platform::THREAD_LEVEL_BELOW_NORMAL;
        case PRIORITY_IDLE:
            return Core_Platform::THREAD_LEVEL_IDLE;
    }
    return Core_Platform::THREAD_LEVEL_NORMAL;
}

bool thread_helper::set_current_thread_priority(thread_priority_enum priority) {
    return Core_Platform::set_current_thread_level(thread_level(priority));
}

}  // namespace Core_Common
