#include "startup/start_up_settings.h"

namespace Core_Common {

start_up_settings_t& start_up_settings() {
    static start_up_settings_t settings;
    return settings;
}

}  // namespace Core_Common
