// Runtime surface: nsICategoryManager, named lists of entry/value pairs
// that components add at registration and hosts read.
//
// Nothing is persisted: the categories live as long as the runtime.
// Thread rule: any thread.
#pragma once

#include "xpcom/ns_isupports.h"

inline constexpr nsIID NS_ICATEGORYMANAGER_IID =
    ns_id_literal("{e4f190a8-f801-45df-bce1-6a09262cc005}");

inline constexpr const char* NS_CATEGORYMANAGER_CONTRACTID = "@mozilla.org/categorymanager;1";

class nsICategoryManager : public nsISupports {
public:
    static constexpr const nsIID& IID() { return NS_ICATEGORYMANAGER_IID; }

    // Stores a copy of the value (from NS_Alloc, freed by the caller with
    // NS_Free) in *value; NS_ERROR_NOT_AVAILABLE when there is no such entry.
    virtual nsresult GetCategoryEntry(const char* category, const char* entry, char** value) = 0;
    // Adds an entry. When it exists and `replace` is false:
    // NS_ERROR_INVALID_ARG and nothing changes. When `old_value` is given it
    // receives the replaced value (NS_Alloc) or null. `persist` is accepted
    // and ignored.
    virtual nsresult AddCategoryEntry(const char* category, const char* entry, const char* value,
                                      bool persist, bool replace, char** old_value) = 0;
    virtual nsresult DeleteCategoryEntry(const char* category, const char* entry, bool persist) = 0;
    virtual nsresult DeleteCategory(const char* category) = 0;

protected:
    ~nsICategoryManager() = default;
};
