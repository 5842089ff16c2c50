// Component surface: mozilla::GenericFactory, a class object around a
// constructor procedure.
//
// Thread rule: any thread; the reference count is atomic.
#pragma once

#include "glue/module.h"
#include "glue/supports.h"
#include "xpcom/ns_factory.h"

namespace mozilla {

class GenericFactory final : public zv_glue::supports<GenericFactory, nsIFactory> {
public:
    // `ctor` must not be null. The new object has no reference yet.
    explicit GenericFactory(Module::ConstructorProcPtr ctor);

    // Calls the constructor with the three arguments and returns its result.
    nsresult CreateInstance(nsISupports* outer, const nsIID& iid, void** result) override;
    // Nothing to lock: the libraries that use this factory never unload.
    nsresult LockFactory(bool lock) override;

private:
    friend supports;
    ~GenericFactory() = default;

    Module::ConstructorProcPtr m_ctor;
};

}  // namespace mozilla
