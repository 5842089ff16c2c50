// Runtime surface: nsIComponentManager, creation of objects by class or
// contract identifier. The runtime's one component manager is reached with
// NS_GetComponentManager (xpcom/ns_service_manager.h).
#pragma once

#include "xpcom/ns_isupports.h"

inline constexpr nsIID NS_ICOMPONENTMANAGER_IID =
    ns_id_literal("{94c7e865-8747-4ae2-b2ca-9a6fb00ec6b8}");

class nsIComponentManager : public nsISupports {
public:
    static constexpr const nsIID& IID() { return NS_ICOMPONENTMANAGER_IID; }

    // The class object (factory) of a registered class, as interface `iid`.
    // NS_ERROR_FACTORY_NOT_REGISTERED when the class or contract is unknown.
    virtual nsresult GetClassObject(const nsCID& cid, const nsIID& iid, void** result) = 0;
    virtual nsresult GetClassObjectByContractID(const char* contract_id, const nsIID& iid,
                                                void** result) = 0;
    // A new instance through the class's factory; *result is null on failure.
    virtual nsresult CreateInstance(const nsCID& cid, nsISupports* outer, const nsIID& iid,
                                    void** result) = 0;
    virtual nsresult CreateInstanceByContractID(const char* contract_id, nsISupports* outer,
                                                const nsIID& iid, void** result) = 0;

protected:
    ~nsIComponentManager() = default;
};
