// The exports of libzorvane_component.so: the module description and the
// module object over it, the two names a host looks up after loading the
// library.
#include <new>

#include "component/component_module.h"
#include "glue/generic_module.h"
#include "xpcom/export.h"

NS_COMPONENT_EXPORT const mozilla::Module* const NSModule =
    &Core_ZorvaneComponent::component_module();

NS_COMPONENT_EXPORT nsresult NSGetModule(nsIComponentManager* /*manager*/, const char* /*location*/,
                                         nsIModule** result) {
    if (result == nullptr) return NS_ERROR_NULL_POINTER;
    *result = nullptr;
    nsIModule* module =
        new (std::nothrow) mozilla::GenericModule(&Core_ZorvaneComponent::component_module());
    if (module == nullptr) return NS_ERROR_OUT_OF_MEMORY;
    module->AddRef();
    *result = module;
    return NS_OK;
}
