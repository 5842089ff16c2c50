#include "glue/generic_module.h"

#include <new>

#include "glue/generic_factory.h"
#include "xpcom/ns_category_manager.h"
#include "xpcom/ns_com_ptr.h"
#include "xpcom/ns_component_manager.h"
#include "xpcom/ns_component_registrar.h"
#include "xpcom/ns_service_manager.h"

namespace mozilla {

GenericModule::GenericModule(const Module* module) : m_module(module) {}

GenericModule::~GenericModule() {
    if (m_loaded && m_module->unloadProc != nullptr) m_module->unloadProc();
}

nsresult GenericModule::ensure_loaded() {
    if (m_module == nullptr || m_module->mVersion != Module::kVersion) return NS_ERROR_FAILURE;
    std::call_once(m_load_once, [this] {
        m_load_result = m_module->loadProc != nullptr ? m_module->loadProc() : NS_OK;
        m_loaded = NS_SUCCEEDED(m_load_result);
    });
    return m_load_result;
}

nsresult GenericModule::GetClassObject(nsIComponentManager* /*manager*/, const nsCID& cid,
                                       const nsIID& iid, void** result) {
    if (result == nullptr) return NS_ERROR_NULL_POINTER;
    *result = nullptr;
    nsresult rv = ensure_loaded();
    if (NS_FAILED(rv)) return rv;
    for (const Module::CIDEntry* e = m_module->mCIDs; e != nullptr && e->cid != nullptr; ++e) {
        if (!e->cid->Equals(cid)) continue;
        nsCOMPtr<nsIFactory> factory;
        if (e->getFactoryProc != nullptr) {
            rv = e->getFactoryProc(*m_module, *e, factory.receive());
        } else if (e->constructorProc != nullptr) {
            nsIFactory* made = new (std::nothrow) GenericFactory(e->constructorProc);
            if (made == nullptr) return NS_ERROR_OUT_OF_MEMORY;
            factory = nsCOMPtr<nsIFactory>(made);
            rv = NS_OK;
        } else if (m_module->getFactoryProc != nullptr) {
            rv = m_module->getFactoryProc(*m_module, *e, factory.receive());
        } else {
            rv = NS_ERROR_FACTORY_NOT_REGISTERED;
        }
        if (NS_FAILED(rv)) return rv;
        if (!factory) return NS_ERROR_FAILURE;
        return factory->QueryInterface(iid, result);
    }
    return NS_ERROR_FACTORY_NOT_REGISTERED;
}

nsresult GenericModule::RegisterSelf(nsIComponentManager* manager, const char* location,
                                     const char* loader, const char* type) {
    if (manager == nullptr) return NS_ERROR_NULL_POINTER;
    if (m_module == nullptr || m_module->mVersion != Module::kVersion) return NS_ERROR_FAILURE;
    nsCOMPtr<nsIComponentRegistrar> registrar;
    nsresult rv = manager->QueryInterface(NS_ICOMPONENTREGISTRAR_IID, registrar.receive_void());
    if (NS_FAILED(rv)) return rv;

    for (const Module::CIDEntry* e = m_module->mCIDs; e != nullptr && e->cid != nullptr; ++e) {
        rv = registrar->RegisterFactoryLocation(*e->cid, "", nullptr, location, loader, type);
        if (NS_FAILED(rv)) return rv;
    }
    for (const Module::ContractIDEntry* e = m_module->mContractIDs;
         e != nullptr && e->contractid != nullptr; ++e) {
        rv = registrar->RegisterFactoryLocation(*e->cid, "", e->contractid, location, loader, type);
        if (NS_FAILED(rv)) return rv;
    }
    const Module::CategoryEntry* categories = m_module->mCategoryEntries;
    if (categories == nullptr || categories->category == nullptr) return NS_OK;

    nsCOMPtr<nsIServiceManager> services;
    rv = manager->QueryInterface(NS_ISERVICEMANAGER_IID, services.receive_void());
    if (NS_FAILED(rv)) return rv;
    nsCOMPtr<nsICategoryManager> category_manager;
    rv = services->GetServiceByContractID(NS_CATEGORYMANAGER_CONTRACTID, NS_ICATEGORYMANAGER_IID,
                                          category_manager.receive_void());
    if (NS_FAILED(rv)) return rv;
    for (const Module::CategoryEntry* e = categories; e->category != nullptr; ++e) {
        rv = category_manager->AddCategoryEntry(e->category, e->entry, e->value, false, true,
                                                nullptr);
        if (NS_FAILED(rv)) return rv;
    }
    return NS_OK;
}

nsresult GenericModule::UnregisterSelf(nsIComponentManager* /*manager*/, const char* /*location*/,
                                       const char* /*loader*/) {
    return NS_ERROR_NOT_IMPLEMENTED;
}

nsresult GenericModule::CanUnload(nsIComponentManager* /*manager*/, bool* result) {
    if (result == nullptr) return NS_ERROR_NULL_POINTER;
    *result = false;
    return NS_OK;
}

}  // namespace mozilla
