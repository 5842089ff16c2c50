#include "host/component_loader.h"

#include <dlfcn.h>

#include <new>

#include "glue/generic_module.h"
#include "glue/module.h"
#include "xpcom/ns_com_ptr.h"
#include "xpcom/ns_component_manager.h"
#include "xpcom/ns_factory.h"
#include "xpcom/ns_module.h"
#include "xpcom/ns_service_manager.h"
#include "xpcom/runtime_host.h"

namespace zv_host {
namespace {

nsresult fail(std::string* error, nsresult rv, const std::string& text) {
    if (error != nullptr) *error = text;
    return rv;
}

std::string hex_code(nsresult rv) {
    static constexpr char digits[] = "0123456789ABCDEF";
    std::string out = "0x";
    for (int i = 7; i >= 0; --i) out.push_back(digits[(rv >> (4 * i)) & 0xF]);
    return out;
}

}  // namespace

nsresult load_component(const std::string& path, std::string* error) {
    if (!zv_runtime_running()) {
        return fail(error, NS_ERROR_NOT_INITIALIZED,
                    "load component " + path + ": the component runtime is not running");
    }
    void* handle = ::dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (handle == nullptr) {
        const char* why = ::dlerror();
        return fail(error, NS_ERROR_FAILURE,
                    "load component " + path + ": " + (why != nullptr ? why : "cannot open"));
    }
    auto get_module = reinterpret_cast<NSGetModuleProc>(::dlsym(handle, "NSGetModule"));
    auto* record = static_cast<const mozilla::Module* const*>(::dlsym(handle, "NSModule"));
    if (get_module == nullptr && (record == nullptr || *record == nullptr)) {
        ::dlclose(handle);  // none of its code has run
        return fail(error, NS_ERROR_FAILURE,
                    "load component " + path + ": exports neither NSGetModule nor NSModule");
    }

    nsCOMPtr<nsIComponentManager> manager;
    nsresult rv = NS_GetComponentManager(manager.receive());
    if (NS_FAILED(rv)) {
        return fail(error, rv, "load component " + path + ": no component manager");
    }
    nsCOMPtr<nsIModule> module;
    if (get_module != nullptr) {
        rv = get_module(manager.get(), path.c_str(), module.receive());
        if (NS_FAILED(rv)) {
            return fail(error, rv,
                        "load component " + path + ": NSGetModule failed with " + hex_code(rv));
        }
        if (!module) {
            return fail(error, NS_ERROR_FAILURE,
                        "load component " + path + ": NSGetModule gave no module");
        }
    } else {
        if ((*record)->mVersion != mozilla::Module::kVersion) {
            return fail(error, NS_ERROR_FAILURE,
                        "load component " + path + ": module version " +
                            std::to_string((*record)->mVersion) + " is not supported");
        }
        nsIModule* wrapper = new (std::nothrow) mozilla::GenericModule(*record);
        if (wrapper == nullptr) {
            return fail(error, NS_ERROR_OUT_OF_MEMORY, "load component " + path + ": no memory");
        }
        module = nsCOMPtr<nsIModule>(wrapper);
    }
    rv = zv_runtime_register_module(module.get(), path.c_str());
    if (NS_FAILED(rv)) {
        return fail(error, rv,
                    "load component " + path + ": registration failed with " + hex_code(rv));
    }
    return NS_OK;
}

nsresult create_component_instance(const char* contract_id, const nsIID& iid, void** result) {
    if (result == nullptr) return NS_ERROR_NULL_POINTER;
    *result = nullptr;
    if (contract_id == nullptr) return NS_ERROR_INVALID_ARG;
    nsCOMPtr<nsIComponentManager> manager;
    nsresult rv = NS_GetComponentManager(manager.receive());
    if (NS_FAILED(rv)) return rv;
    nsCOMPtr<nsIFactory> factory;
    rv = manager->GetClassObjectByContractID(contract_id, NS_IFACTORY_IID, factory.receive_void());
    if (NS_FAILED(rv)) return rv;
    rv = factory->CreateInstance(nullptr, iid, result);
    if (NS_FAILED(rv)) *result = nullptr;
    return rv;
}

}  // namespace zv_host
