// Runtime surface: nsIModule, the object a component library hands its
// host. Through it the host registers the library's classes and obtains
// their class objects.
#pragma once

#include "xpcom/ns_isupports.h"

class nsIComponentManager;

inline constexpr nsIID NS_IMODULE_IID = ns_id_literal("{0b3ac360-e7c5-4a33-9676-58a4a79e4227}");

class nsIModule : public nsISupports {
public:
    static constexpr const nsIID& IID() { return NS_IMODULE_IID; }

    // Stores the class object of class `cid` as interface `iid` (one
    // reference) in *result; NS_ERROR_FACTORY_NOT_REGISTERED for a class the
    // module does not have.
    virtual nsresult GetClassObject(nsIComponentManager* manager, const nsCID& cid,
                                    const nsIID& iid, void** result) = 0;
    // Registers the module's classes, contract identifiers and category
    // entries with the runtime reached through `manager`. `location` is the
    // library's path, `loader` and `type` describe how it was loaded.
    virtual nsresult RegisterSelf(nsIComponentManager* manager, const char* location,
                                  const char* loader, const char* type) = 0;
    // Undoes RegisterSelf.
    virtual nsresult UnregisterSelf(nsIComponentManager* manager, const char* location,
                                    const char* loader) = 0;
    // Stores in *result whether the host may unload the library now.
    virtual nsresult CanUnload(nsIComponentManager* manager, bool* result) = 0;

protected:
    ~nsIModule() = default;
};

// The signature of a component library's NSGetModule export.
using NSGetModuleProc = nsresult (*)(nsIComponentManager* manager, const char* location,
                                     nsIModule** result);
