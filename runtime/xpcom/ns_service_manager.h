// Runtime surface: nsIServiceManager and the runtime's entry points
// NS_GetServiceManager and NS_GetComponentManager.
//
// A service is the one instance of a class that the service manager hands
// out to everyone who asks: the runtime's own services (observer service,
// category manager, component manager) exist from start-up; a registered
// class is instantiated on first request and kept until the runtime shuts
// down.
#pragma once

#include "xpcom/export.h"
#include "xpcom/ns_isupports.h"

class nsIComponentManager;

inline constexpr nsIID NS_ISERVICEMANAGER_IID =
    ns_id_literal("{e90a738e-b9ce-424b-8495-351e9483333f}");

inline constexpr const char* NS_COMPONENTMANAGER_CONTRACTID =
    "@mozilla.org/xpcom/component-manager;1";

class nsIServiceManager : public nsISupports {
public:
    static constexpr const nsIID& IID() { return NS_ISERVICEMANAGER_IID; }

    // The service of class `cid` as interface `iid` (one reference).
    // NS_ERROR_FACTORY_NOT_REGISTERED when no such class is known.
    virtual nsresult GetService(const nsCID& cid, const nsIID& iid, void** result) = 0;
    virtual nsresult GetServiceByContractID(const char* contract_id, const nsIID& iid,
                                            void** result) = 0;
    // Whether the service exists already; when it does, it is stored as
    // interface `iid` in *result (NS_OK), otherwise NS_ERROR_NOT_AVAILABLE.
    virtual nsresult IsServiceInstantiated(const nsCID& cid, const nsIID& iid, bool* result) = 0;
    virtual nsresult IsServiceInstantiatedByContractID(const char* contract_id, const nsIID& iid,
                                                       bool* result) = 0;

protected:
    ~nsIServiceManager() = default;
};

// Stores the runtime's service manager (one reference) in *result.
// NS_ERROR_NOT_INITIALIZED (and null) before the host has started the
// runtime and after it has shut it down. Any thread.
NS_RUNTIME_API nsresult NS_GetServiceManager(nsIServiceManager** result);
// Likewise for the component manager.
NS_RUNTIME_API nsresult NS_GetComponentManager(nsIComponentManager** result);
