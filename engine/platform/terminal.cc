#include "platform/terminal.h"

#include <unistd.h>

namespace Core_Platform {

bool standard_error_is_terminal() { return ::isatty(STDERR_FILENO) == 1; }

}  // namespace Core_Platform
