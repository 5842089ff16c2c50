// Internal to the component front: the module description the component
// library publishes, and the constructor behind its one class.
//
// The description lists one class (ZORVANE_EXTENSION_CID, not a service,
// constructed by construct_extension), one contract identifier
// (ZORVANE_EXTENSION_CONTRACTID) and no categories; its version is
// mozilla::Module::kVersion.
#pragma once

#include "glue/module.h"
#include "xpcom/ns_isupports.h"

namespace Core_ZorvaneComponent {

// The static module description.
const mozilla::Module& component_module();

// The extension constructor: clears *result; NS_ERROR_NO_AGGREGATION when
// `outer` is given; NS_ERROR_OUT_OF_MEMORY when no object can be made;
// otherwise a new extension object asked for `iid` (NS_NOINTERFACE and a
// null result for an identifier it does not answer, the object then gone).
nsresult construct_extension(nsISupports* outer, const nsIID& iid, void** result);

}  // namespace Core_ZorvaneComponent
