#include "sync_client/zorvane_log.h"

#include "common/log_dispatcher.h"

namespace Core_ZorvaneClient {

void log_sync(std::string message) {
    Core_Common::log_write(1, Core_Common::log_level_t::NORMAL,
                           Core_Common::log_category_t::SOFT_UPDATE, "", 0, std::move(message));
}

}  // namespace Core_ZorvaneClient
