#include "common/log_module.h"

#include "common/log_dispatcher.h"

namespace Core_Common {

void InterfaceLog::initialize() { LogDispatcher::create(); }

void InterfaceLog::uninitialize() { LogDispatcher::destroy(); }

}  // namespace Core_Common
