// The layer bindings of start-up (framework/layer_bindings.h).
//
// The binding classes arrive with the socket and wire layers' interfaces;
// until then there is no binding object to register, and the pointers the
// wire module's initialize cleared stay empty.
#include "framework/layer_bindings.h"

namespace Core_Common {

void register_layer_bindings() {}

}  // namespace Core_Common
