// Component surface: mozilla::GenericFactory, a class object around a
// constructor procedure.
//
// Thread rule: any thread; the reference count is atomic.
#pragma once

#include <atomic>

#include "glue/module.h"
#include "xpcom/ns_factory.h"

namespace mozilla {

class GenericFactory final : public nsIFactory {
public:
    // `ctor` must not be null. The new object has no reference yet.
    explicit GenericFactory(Module::ConstructorProcPtr ctor);

    // Answers nsIFactory and nsISupports.
    nsresult QueryInterface(const nsIID& iid, void** result) override;
    nsrefcnt AddRef() override;
    nsrefcnt Release() override;

    // Calls the constructor with the three arguments and returns its result.
    nsresult CreateInstance(nsISupports* outer, const nsIID& iid, void** result) override;
    // Nothing to lock: the libraries that use this factory never unload.
    nsresult LockFactory(bool lock) override;

private:
    ~GenericFactory() = default;

    Module::ConstructorProcPtr m_ctor;
    std::atomic<nsrefcnt> m_refs{0};
};

}  // namespace mozilla
