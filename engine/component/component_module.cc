#include "component/component_module.h"

#include <new>

#include "component/component_objects.h"

namespace Core_ZorvaneComponent {
namespace {

const mozilla::Module::CIDEntry kClasses[] = {
    {&ZORVANE_EXTENSION_CID, false, nullptr, construct_extension},
    {nullptr, false, nullptr, nullptr},
};
const mozilla::Module::ContractIDEntry kContracts[] = {
    {ZORVANE_EXTENSION_CONTRACTID, &ZORVANE_EXTENSION_CID},
    {nullptr, nullptr},
};
const mozilla::Module kModule = {
    mozilla::Module::kVersion, kClasses, kContracts, nullptr, nullptr, nullptr, nullptr,
};

}  // namespace

const mozilla::Module& component_module() { return kModule; }

nsresult construct_extension(nsISupports* outer, const nsIID& iid, void** result) {
    if (result == nullptr) return NS_ERROR_NULL_POINTER;
    *result = nullptr;
    if (outer != nullptr) return NS_ERROR_NO_AGGREGATION;
    InterfaceZorvaneExtension* extension = new (std::nothrow) InterfaceZorvaneExtension();
    if (extension == nullptr) return NS_ERROR_OUT_OF_MEMORY;
    extension->AddRef();
    const nsresult rv = extension->QueryInterface(iid, result);
    extension->Release();
    return rv;
}

}  // namespace Core_ZorvaneComponent
