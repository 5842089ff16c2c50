#include "xpcom/component_manager_impl.h"

#include <new>
#include <utility>

namespace zv_runtime {

component_manager_impl::~component_manager_impl() { shutdown(); }

component_manager_impl::class_t* component_manager_impl::find_class(const nsCID& cid) {
    for (class_t& c : m_classes) {
        if (c.m_cid.Equals(cid)) return &c;
    }
    return nullptr;
}

component_manager_impl::class_t& component_manager_impl::class_for(const nsCID& cid) {
    if (class_t* c = find_class(cid)) return *c;
    m_classes.push_back(class_t{cid, {}, nullptr, {}, nullptr});
    return m_classes.back();
}

nsresult component_manager_impl::contract_to_cid(const char* contract_id, nsCID& cid) {
    if (contract_id == nullptr) return NS_ERROR_INVALID_ARG;
    std::lock_guard<std::mutex> guard(m_lock);
    if (m_shut_down) return NS_ERROR_NOT_INITIALIZED;
    auto it = m_contracts.find(contract_id);
    if (it == m_contracts.end()) return NS_ERROR_FACTORY_NOT_REGISTERED;
    cid = it->second;
    return NS_OK;
}

nsresult component_manager_impl::register_contract(const char* contract_id, const nsCID& cid) {
    if (contract_id == nullptr) return NS_OK;
    m_contracts[contract_id] = cid;
    return NS_OK;
}

// --- nsIComponentManager ---------------------------------------------------

nsresult component_manager_impl::GetClassObject(const nsCID& cid, const nsIID& iid, void** result) {
    if (result == nullptr) return NS_ERROR_NULL_POINTER;
    *result = nullptr;
    nsIFactory* factory = nullptr;
    nsIModule* module = nullptr;
    {
        std::lock_guard<std::mutex> guard(m_lock);
        if (m_shut_down) return NS_ERROR_NOT_INITIALIZED;
        class_t* c = find_class(cid);
        if (c == nullptr) return NS_ERROR_FACTORY_NOT_REGISTERED;
        if (c->m_factory != nullptr) {
            factory = c->m_factory;
            factory->AddRef();
        } else if (!c->m_location.empty()) {
            auto it = m_modules.find(c->m_location);
            if (it != m_modules.end()) {
                module = it->second;
                module->AddRef();
            }
        }
    }
    if (factory != nullptr) {
        const nsresult rv = factory->QueryInterface(iid, result);
        factory->Release();
        return rv;
    }
    if (module != nullptr) {
        const nsresult rv = module->GetClassObject(this, cid, iid, result);
        module->Release();
        if (NS_FAILED(rv)) *result = nullptr;
        return rv;
    }
    return NS_ERROR_FACTORY_NOT_REGISTERED;
}

nsresult component_manager_impl::GetClassObjectByContractID(const char* contract_id,
                                                            const nsIID& iid, void** result) {
    if (result == nullptr) return NS_ERROR_NULL_POINTER;
    *result = nullptr;
    nsCID cid{};
    const nsresult rv = contract_to_cid(contract_id, cid);
    if (NS_FAILED(rv)) return rv;
    return GetClassObject(cid, iid, result);
}

nsresult component_manager_impl::CreateInstance(const nsCID& cid, nsISupports* outer,
                                                const nsIID& iid, void** result) {
    if (result == nullptr) return NS_ERROR_NULL_POINTER;
    *result = nullptr;
    void* raw = nullptr;
    nsresult rv = GetClassObject(cid, NS_IFACTORY_IID, &raw);
    if (NS_FAILED(rv)) return rv;
    auto* factory = static_cast<nsIFactory*>(raw);
    rv = factory->CreateInstance(outer, iid, result);
    factory->Release();
    if (NS_FAILED(rv)) *result = nullptr;
    return rv;
}

nsresult component_manager_impl::CreateInstanceByContractID(const char* contract_id,
                                                            nsISupports* outer, const nsIID& iid,
                                                            void** result) {
    if (result == nullptr) return NS_ERROR_NULL_POINTER;
    *result = nullptr;
    nsCID cid{};
    const nsresult rv = contract_to_cid(contract_id, cid);
    if (NS_FAILED(rv)) return rv;
    return CreateInstance(cid, outer, iid, result);
}

// --- nsIComponentRegistrar -------------------------------------------------

nsresult component_manager_impl::RegisterFactory(const nsCID& cid, const char* class_name,
                                                 const char* contract_id, nsIFactory* factory) {
    if (factory == nullptr) return NS_ERROR_INVALID_ARG;
    std::lock_guard<std::mutex> guard(m_lock);
    if (m_shut_down) return NS_ERROR_NOT_INITIALIZED;
    try {
        class_t& c = class_for(cid);
        if (c.m_factory != nullptr) return NS_ERROR_FACTORY_EXISTS;
        if (class_name != nullptr) c.m_name = class_name;
        register_contract(contract_id, cid);
        c.m_factory = factory;
        factory->AddRef();
        return NS_OK;
    } catch (const std::bad_alloc&) {
        return NS_ERROR_OUT_OF_MEMORY;
    }
}

nsresult component_manager_impl::UnregisterFactory(const nsCID& cid, nsIFactory* factory) {
    nsIFactory* dropped = nullptr;
    {
        std::lock_guard<std::mutex> guard(m_lock);
        if (m_shut_down) return NS_ERROR_NOT_INITIALIZED;
        class_t* c = find_class(cid);
        if (c == nullptr || c->m_factory == nullptr || c->m_factory != factory) {
            return NS_ERROR_FACTORY_NOT_REGISTERED;
        }
        dropped = c->m_factory;
        c->m_factory = nullptr;
        for (auto it = m_contracts.begin(); it != m_contracts.end();) {
            it = it->second.Equals(cid) ? m_contracts.erase(it) : std::next(it);
        }
    }
    dropped->Release();
    return NS_OK;
}

nsresult component_manager_impl::RegisterFactoryLocation(const nsCID& cid, const char* class_name,
                                                         const char* contract_id,
                                                         const char* location,
                                                         const char* /*loader*/,
                                                         const char* /*type*/) {
    if (location == nullptr || *location == '\0') return NS_ERROR_INVALID_ARG;
    std::lock_guard<std::mutex> guard(m_lock);
    if (m_shut_down) return NS_ERROR_NOT_INITIALIZED;
    try {
        class_t& c = class_for(cid);
        if (class_name != nullptr && *class_name != '\0') c.m_name = class_name;
        c.m_location = location;
        return register_contract(contract_id, cid);
    } catch (const std::bad_alloc&) {
        return NS_ERROR_OUT_OF_MEMORY;
    }
}

nsresult component_manager_impl::IsCIDRegistered(const nsCID& cid, bool* result) {
    if (result == nullptr) return NS_ERROR_NULL_POINTER;
    std::lock_guard<std::mutex> guard(m_lock);
    if (m_shut_down) return NS_ERROR_NOT_INITIALIZED;
    *result = find_class(cid) != nullptr;
    return NS_OK;
}

nsresult component_manager_impl::IsContractIDRegistered(const char* contract_id, bool* result) {
    if (result == nullptr) return NS_ERROR_NULL_POINTER;
    *result = false;
    nsCID cid{};
    const nsresult rv = contract_to_cid(contract_id, cid);
    if (rv == NS_ERROR_FACTORY_NOT_REGISTERED) return NS_OK;
    if (NS_FAILED(rv)) return rv;
    *result = true;
    return NS_OK;
}

nsresult component_manager_impl::ContractIDToCID(const char* contract_id, nsCID* result) {
    if (result == nullptr) return NS_ERROR_NULL_POINTER;
    return contract_to_cid(contract_id, *result);
}

// --- nsIServiceManager -----------------------------------------------------

nsresult component_manager_impl::GetService(const nsCID& cid, const nsIID& iid, void** result) {
    if (result == nullptr) return NS_ERROR_NULL_POINTER;
    *result = nullptr;
    if (cid.Equals(COMPONENT_MANAGER_CID)) {
        {
            std::lock_guard<std::mutex> guard(m_lock);
            if (m_shut_down) return NS_ERROR_NOT_INITIALIZED;
        }
        return QueryInterface(iid, result);
    }
    nsISupports* service = nullptr;
    {
        std::lock_guard<std::mutex> guard(m_lock);
        if (m_shut_down) return NS_ERROR_NOT_INITIALIZED;
        class_t* c = find_class(cid);
        if (c == nullptr) return NS_ERROR_FACTORY_NOT_REGISTERED;
        service = c->m_service;
        if (service != nullptr) service->AddRef();
    }
    if (service == nullptr) {
        // First request: create it outside the lock, then keep the first
        // instance stored (another thread may have raced us to it).
        void* created = nullptr;
        const nsresult rv = CreateInstance(cid, nullptr, NS_ISUPPORTS_IID, &created);
        if (NS_FAILED(rv)) return rv;
        service = static_cast<nsISupports*>(created);
        nsISupports* loser = nullptr;
        {
            std::lock_guard<std::mutex> guard(m_lock);
            class_t* c = find_class(cid);
            if (m_shut_down || c == nullptr) {
                loser = service;
                service = nullptr;
            } else if (c->m_service != nullptr) {
                loser = service;
                service = c->m_service;
                service->AddRef();
            } else {
                c->m_service = service;
                service->AddRef();  // the table's reference
            }
        }
        if (loser != nullptr) loser->Release();
        if (service == nullptr) return NS_ERROR_NOT_INITIALIZED;
    }
    const nsresult rv = service->QueryInterface(iid, result);
    service->Release();
    return rv;
}

nsresult component_manager_impl::GetServiceByContractID(const char* contract_id, const nsIID& iid,
                                                        void** result) {
    if (result == nullptr) return NS_ERROR_NULL_POINTER;
    *result = nullptr;
    nsCID cid{};
    const nsresult rv = contract_to_cid(contract_id, cid);
    if (NS_FAILED(rv)) return rv;
    return GetService(cid, iid, result);
}

nsresult component_manager_impl::IsServiceInstantiated(const nsCID& cid, const nsIID& iid,
                                                       bool* result) {
    if (result == nullptr) return NS_ERROR_NULL_POINTER;
    *result = false;
    nsISupports* service = nullptr;
    {
        std::lock_guard<std::mutex> guard(m_lock);
        if (m_shut_down) return NS_ERROR_NOT_INITIALIZED;
        if (cid.Equals(COMPONENT_MANAGER_CID)) {
            service = static_cast<nsIComponentManager*>(this);
        } else if (class_t* c = find_class(cid)) {
            service = c->m_service;
        }
        if (service == nullptr) return NS_ERROR_NOT_AVAILABLE;
        service->AddRef();
    }
    void* probe = nullptr;
    const nsresult rv = service->QueryInterface(iid, &probe);
    service->Release();
    if (NS_FAILED(rv)) return rv;
    static_cast<nsISupports*>(probe)->Release();
    *result = true;
    return NS_OK;
}

nsresult component_manager_impl::IsServiceInstantiatedByContractID(const char* contract_id,
                                                                   const nsIID& iid, bool* result) {
    if (result == nullptr) return NS_ERROR_NULL_POINTER;
    *result = false;
    nsCID cid{};
    const nsresult rv = contract_to_cid(contract_id, cid);
    if (NS_FAILED(rv)) return rv == NS_ERROR_FACTORY_NOT_REGISTERED ? NS_ERROR_NOT_AVAILABLE : rv;
    return IsServiceInstantiated(cid, iid, result);
}

// --- host side --------------------------------------------------------------

nsresult component_manager_impl::add_builtin_service(const nsCID& cid, const char* contract_id,
                                                     nsISupports* service) {
    std::lock_guard<std::mutex> guard(m_lock);
    if (m_shut_down) return NS_ERROR_NOT_INITIALIZED;
    try {
        class_t& c = class_for(cid);
        register_contract(contract_id, cid);
        if (service != nullptr && c.m_service == nullptr) {
            c.m_service = service;
            service->AddRef();
        }
        return NS_OK;
    } catch (const std::bad_alloc&) {
        return NS_ERROR_OUT_OF_MEMORY;
    }
}

nsresult component_manager_impl::add_module(const char* location, nsIModule* module) {
    if (location == nullptr || *location == '\0' || module == nullptr) return NS_ERROR_INVALID_ARG;
    std::lock_guard<std::mutex> guard(m_lock);
    if (m_shut_down) return NS_ERROR_NOT_INITIALIZED;
    try {
        auto [it, inserted] = m_modules.emplace(location, module);
        if (!inserted) return NS_ERROR_FACTORY_EXISTS;
        module->AddRef();
        return NS_OK;
    } catch (const std::bad_alloc&) {
        return NS_ERROR_OUT_OF_MEMORY;
    }
}

void component_manager_impl::shutdown() {
    std::vector<class_t> classes;
    std::map<std::string, nsIModule*> modules;
    {
        std::lock_guard<std::mutex> guard(m_lock);
        m_shut_down = true;
        classes.swap(m_classes);
        modules.swap(m_modules);
        m_contracts.clear();
    }
    // Services first: they may still use their classes' modules.
    for (class_t& c : classes) {
        if (c.m_service != nullptr) c.m_service->Release();
    }
    for (class_t& c : classes) {
        if (c.m_factory != nullptr) c.m_factory->Release();
    }
    for (auto& [location, module] : modules) module->Release();
}

}  // namespace zv_runtime
