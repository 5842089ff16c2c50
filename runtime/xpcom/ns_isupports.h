// Runtime surface: nsISupports, the root of every interface.
//
// An interface is a class of pure virtual methods whose table starts with
// the three slots below, in this order:
//   0 QueryInterface(iid, result): on success stores the object as the asked
//     interface with one reference added and returns NS_OK; otherwise stores
//     null and returns NS_NOINTERFACE.
//   1 AddRef(): adds a reference and returns the new count.
//   2 Release(): drops a reference and returns the new count; the object
//     destroys itself when the count reaches 0.
// Objects are destroyed only through Release, so the destructor is
// protected and not part of the table.
//
// Every interface derived from nsISupports also names its own identifier
// with `static constexpr const nsIID& IID()`: a static member, no slot, so
// the table is as above (glue/supports.h answers QueryInterface by it).
#pragma once

#include "xpcom/ns_id.h"
#include "xpcom/ns_result.h"

inline constexpr nsIID NS_ISUPPORTS_IID = ns_id_literal("{00000000-0000-0000-C000-000000000046}");

class nsISupports {
public:
    virtual nsresult QueryInterface(const nsIID& iid, void** result) = 0;
    virtual nsrefcnt AddRef() = 0;
    virtual nsrefcnt Release() = 0;

protected:
    ~nsISupports() = default;
};
