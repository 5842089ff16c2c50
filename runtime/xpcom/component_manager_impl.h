// Internal to the runtime: the component manager, which is also the
// registrar and the service manager (one object, three interfaces; each is
// reached from the others with QueryInterface).
//
// Lock rule: m_lock guards the tables only. Factories, modules and services
// are called with the lock released (they may call back into the runtime),
// holding a reference taken under the lock.
#pragma once

#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "glue/supports.h"
#include "xpcom/ns_component_manager.h"
#include "xpcom/ns_component_registrar.h"
#include "xpcom/ns_factory.h"
#include "xpcom/ns_module.h"
#include "xpcom/ns_service_manager.h"

namespace zv_runtime {

inline constexpr nsCID COMPONENT_MANAGER_CID =
    ns_id_literal("{3ef239f6-5d4d-496a-9ba4-04b80975c643}");

class component_manager_impl final
    : public zv_glue::supports<component_manager_impl, nsIComponentManager, nsIComponentRegistrar,
                               nsIServiceManager> {
public:
    component_manager_impl() = default;

    // nsIComponentManager
    nsresult GetClassObject(const nsCID& cid, const nsIID& iid, void** result) override;
    nsresult GetClassObjectByContractID(const char* contract_id, const nsIID& iid,
                                        void** result) override;
    nsresult CreateInstance(const nsCID& cid, nsISupports* outer, const nsIID& iid,
                            void** result) override;
    nsresult CreateInstanceByContractID(const char* contract_id, nsISupports* outer,
                                        const nsIID& iid, void** result) override;

    // nsIComponentRegistrar
    nsresult RegisterFactory(const nsCID& cid, const char* class_name, const char* contract_id,
                             nsIFactory* factory) override;
    nsresult UnregisterFactory(const nsCID& cid, nsIFactory* factory) override;
    nsresult RegisterFactoryLocation(const nsCID& cid, const char* class_name,
                                     const char* contract_id, const char* location,
                                     const char* loader, const char* type) override;
    nsresult IsCIDRegistered(const nsCID& cid, bool* result) override;
    nsresult IsContractIDRegistered(const char* contract_id, bool* result) override;
    nsresult ContractIDToCID(const char* contract_id, nsCID* result) override;

    // nsIServiceManager
    nsresult GetService(const nsCID& cid, const nsIID& iid, void** result) override;
    nsresult GetServiceByContractID(const char* contract_id, const nsIID& iid,
                                    void** result) override;
    nsresult IsServiceInstantiated(const nsCID& cid, const nsIID& iid, bool* result) override;
    nsresult IsServiceInstantiatedByContractID(const char* contract_id, const nsIID& iid,
                                               bool* result) override;

    // Registers one of the runtime's own services: class `cid` under
    // `contract_id`, with `service` (one reference kept) as its instance.
    nsresult add_builtin_service(const nsCID& cid, const char* contract_id, nsISupports* service);
    // Keeps `module` (one reference) as the module of `location`.
    nsresult add_module(const char* location, nsIModule* module);
    // Releases every table entry; afterwards every method fails with
    // NS_ERROR_NOT_INITIALIZED.
    void shutdown();

private:
    friend supports;
    ~component_manager_impl();

    struct class_t {
        nsCID m_cid;
        std::string m_name;
        nsIFactory* m_factory = nullptr;   // one reference, or null
        std::string m_location;            // the serving module's location, or empty
        nsISupports* m_service = nullptr;  // one reference once instantiated
    };

    class_t* find_class(const nsCID& cid);
    class_t& class_for(const nsCID& cid);
    nsresult contract_to_cid(const char* contract_id, nsCID& cid);
    nsresult register_contract(const char* contract_id, const nsCID& cid);

    std::mutex m_lock;
    bool m_shut_down = false;
    std::vector<class_t> m_classes;
    std::map<std::string, nsCID> m_contracts;
    std::map<std::string, nsIModule*> m_modules;  // location -> module (one reference)
};

}  // namespace zv_runtime
