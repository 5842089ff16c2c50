#include "common/fatal_error.h"

#include <stdexcept>

namespace Core_Common {

void fatal_error() { throw std::runtime_error(FATAL_ERROR_TEXT); }

}  // namespace Core_Common
