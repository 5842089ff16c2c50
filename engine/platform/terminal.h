// Public engine surface: whether the process's standard streams are
// terminals, for programs that show progress only to a person watching.
//
// Thread-safe.
#pragma once

namespace Core_Platform {

// True when standard error is a terminal.
bool standard_error_is_terminal();

}  // namespace Core_Platform
