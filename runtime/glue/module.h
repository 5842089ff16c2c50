// Component surface: mozilla::Module, the static description a component
// library publishes of its classes.
//
// A library defines one constant Module and exports a pointer to it as
// NSModule (and, for hosts that ask for a module object, NSGetModule, which
// wraps it in a GenericModule). Every table ends with an entry whose first
// field is null.
#pragma once

#include "xpcom/ns_isupports.h"

class nsIFactory;

namespace mozilla {

struct Module {
    // The version of this record's layout.
    static constexpr unsigned int kVersion = 9;

    struct CIDEntry;

    // Creates the class object of a class (one reference) in *result.
    using GetFactoryProcPtr = nsresult (*)(const Module& module, const CIDEntry& entry,
                                           nsIFactory** result);
    // Creates an instance: clears *result first; a non-null `outer` asks for
    // aggregation.
    using ConstructorProcPtr = nsresult (*)(nsISupports* outer, const nsIID& iid, void** result);
    // Run once before the first class object is handed out.
    using LoadFuncPtr = nsresult (*)();
    // Run when the module object goes away after a successful load.
    using UnloadFuncPtr = void (*)();

    struct CIDEntry {
        const nsCID* cid;
        bool service;
        GetFactoryProcPtr getFactoryProc;
        ConstructorProcPtr constructorProc;
    };

    struct ContractIDEntry {
        const char* contractid;
        const nsCID* cid;
    };

    struct CategoryEntry {
        const char* category;
        const char* entry;
        const char* value;
    };

    unsigned int mVersion;
    const CIDEntry* mCIDs;
    const ContractIDEntry* mContractIDs;
    const CategoryEntry* mCategoryEntries;  // may be null: no categories
    GetFactoryProcPtr getFactoryProc;       // for classes without their own procedures
    LoadFuncPtr loadProc;
    UnloadFuncPtr unloadProc;
};

}  // namespace mozilla
