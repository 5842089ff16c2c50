// Runtime surface: nsIFactory, the class object that creates instances of
// one class.
#pragma once

#include "xpcom/ns_isupports.h"

inline constexpr nsIID NS_IFACTORY_IID = ns_id_literal("{d4f9a472-0a8f-44fe-a800-a097b4525d98}");

class nsIFactory : public nsISupports {
public:
    static constexpr const nsIID& IID() { return NS_IFACTORY_IID; }

    // Creates an instance and stores it as interface `iid` (one reference)
    // in *result. On failure *result is null. A non-null `outer` asks for
    // aggregation, which a class may refuse with NS_ERROR_NO_AGGREGATION.
    virtual nsresult CreateInstance(nsISupports* outer, const nsIID& iid, void** result) = 0;
    // Asks the factory to keep its library loaded (lock true) or releases
    // that request.
    virtual nsresult LockFactory(bool lock) = 0;

protected:
    ~nsIFactory() = default;
};
