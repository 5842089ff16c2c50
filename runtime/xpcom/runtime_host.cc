#include "xpcom/runtime_host.h"

#include <mutex>
#include <new>

#include "xpcom/category_manager_impl.h"
#include "xpcom/component_manager_impl.h"
#include "xpcom/ns_module.h"
#include "xpcom/ns_service_manager.h"
#include "xpcom/observer_service_impl.h"

namespace {

using zv_runtime::category_manager_impl;
using zv_runtime::component_manager_impl;
using zv_runtime::observer_service_impl;

std::mutex g_lock;
component_manager_impl* g_manager = nullptr;          // one reference while running
observer_service_impl* g_observer_service = nullptr;  // one reference while running

// The running manager with one reference added, or null.
component_manager_impl* running_manager() {
    std::lock_guard<std::mutex> guard(g_lock);
    if (g_manager != nullptr) g_manager->AddRef();
    return g_manager;
}

}  // namespace

nsresult zv_runtime_init(std::uint32_t flags) {
    std::lock_guard<std::mutex> guard(g_lock);
    if (g_manager != nullptr) return NS_ERROR_ALREADY_INITIALIZED;
    auto* manager = new (std::nothrow) component_manager_impl();
    auto* categories = new (std::nothrow) category_manager_impl();
    const bool want_observers = (flags & ZV_RUNTIME_NO_OBSERVER_SERVICE) == 0;
    observer_service_impl* observers =
        want_observers ? new (std::nothrow) observer_service_impl() : nullptr;
    if (manager != nullptr) manager->AddRef();
    if (categories != nullptr) categories->AddRef();
    if (observers != nullptr) observers->AddRef();
    if (manager == nullptr || categories == nullptr || (want_observers && observers == nullptr)) {
        if (manager != nullptr) manager->Release();
        if (categories != nullptr) categories->Release();
        if (observers != nullptr) observers->Release();
        return NS_ERROR_OUT_OF_MEMORY;
    }

    nsresult rv = manager->add_builtin_service(zv_runtime::COMPONENT_MANAGER_CID,
                                               NS_COMPONENTMANAGER_CONTRACTID, nullptr);
    if (NS_SUCCEEDED(rv)) {
        rv = manager->add_builtin_service(zv_runtime::CATEGORY_MANAGER_CID,
                                          NS_CATEGORYMANAGER_CONTRACTID,
                                          static_cast<nsICategoryManager*>(categories));
    }
    if (NS_SUCCEEDED(rv) && observers != nullptr) {
        rv = manager->add_builtin_service(zv_runtime::OBSERVER_SERVICE_CID,
                                          NS_OBSERVERSERVICE_CONTRACTID,
                                          static_cast<nsIObserverService*>(observers));
    }
    categories->Release();  // the manager holds it now
    if (NS_FAILED(rv)) {
        manager->shutdown();
        manager->Release();
        if (observers != nullptr) observers->Release();
        return rv;
    }
    g_manager = manager;
    g_observer_service = observers;
    return NS_OK;
}

nsresult zv_runtime_shutdown() {
    component_manager_impl* manager = nullptr;
    observer_service_impl* observers = nullptr;
    {
        std::lock_guard<std::mutex> guard(g_lock);
        if (g_manager == nullptr) return NS_ERROR_NOT_INITIALIZED;
        manager = g_manager;
        observers = g_observer_service;
        g_manager = nullptr;
        g_observer_service = nullptr;
    }
    // Observers first: they are often the host's objects that hold
    // references into components.
    if (observers != nullptr) {
        observers->shutdown();
        observers->Release();
    }
    manager->shutdown();
    manager->Release();
    return NS_OK;
}

bool zv_runtime_running() {
    std::lock_guard<std::mutex> guard(g_lock);
    return g_manager != nullptr;
}

nsresult zv_runtime_register_module(nsIModule* module, const char* location) {
    if (module == nullptr || location == nullptr || *location == '\0') return NS_ERROR_INVALID_ARG;
    component_manager_impl* manager = running_manager();
    if (manager == nullptr) return NS_ERROR_NOT_INITIALIZED;
    nsresult rv = manager->add_module(location, module);
    if (NS_SUCCEEDED(rv)) {
        rv = module->RegisterSelf(static_cast<nsIComponentManager*>(manager), location, "", "");
    }
    manager->Release();
    return rv;
}

nsresult NS_GetServiceManager(nsIServiceManager** result) {
    if (result == nullptr) return NS_ERROR_NULL_POINTER;
    component_manager_impl* manager = running_manager();
    *result = manager;  // the reference taken by running_manager
    return manager != nullptr ? NS_OK : NS_ERROR_NOT_INITIALIZED;
}

nsresult NS_GetComponentManager(nsIComponentManager** result) {
    if (result == nullptr) return NS_ERROR_NULL_POINTER;
    component_manager_impl* manager = running_manager();
    *result = manager;
    return manager != nullptr ? NS_OK : NS_ERROR_NOT_INITIALIZED;
}
