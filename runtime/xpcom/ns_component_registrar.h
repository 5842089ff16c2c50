// Runtime surface: nsIComponentRegistrar, the registration side of the
// component manager (reached from it with QueryInterface).
//
// A class is known to the runtime by its class identifier, served either by
// a factory object registered directly or by the module registered for a
// library location; a contract identifier names a class. Registering a
// contract identifier again makes it name the newer class.
#pragma once

#include "xpcom/ns_isupports.h"

class nsIFactory;

inline constexpr nsIID NS_ICOMPONENTREGISTRAR_IID =
    ns_id_literal("{c0829caa-b542-49c5-b067-7bfd383d2217}");

class nsIComponentRegistrar : public nsISupports {
public:
    static constexpr const nsIID& IID() { return NS_ICOMPONENTREGISTRAR_IID; }

    // Registers `factory` (one reference kept) for class `cid`, and
    // `contract_id` (may be null) for that class. NS_ERROR_FACTORY_EXISTS when
    // the class already has a factory.
    virtual nsresult RegisterFactory(const nsCID& cid, const char* class_name,
                                     const char* contract_id, nsIFactory* factory) = 0;
    // Drops the factory registered for `cid` if it is `factory`, together
    // with the contract identifiers naming that class.
    virtual nsresult UnregisterFactory(const nsCID& cid, nsIFactory* factory) = 0;
    // Records that class `cid` is served by the module registered for the
    // library at `location`, and `contract_id` (may be null) for that class.
    virtual nsresult RegisterFactoryLocation(const nsCID& cid, const char* class_name,
                                             const char* contract_id, const char* location,
                                             const char* loader, const char* type) = 0;
    virtual nsresult IsCIDRegistered(const nsCID& cid, bool* result) = 0;
    virtual nsresult IsContractIDRegistered(const char* contract_id, bool* result) = 0;
    // The class named by a contract identifier;
    // NS_ERROR_FACTORY_NOT_REGISTERED when none.
    virtual nsresult ContractIDToCID(const char* contract_id, nsCID* result) = 0;

protected:
    ~nsIComponentRegistrar() = default;
};
