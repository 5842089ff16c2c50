#include "glue/generic_factory.h"

namespace mozilla {

GenericFactory::GenericFactory(Module::ConstructorProcPtr ctor) : m_ctor(ctor) {}

nsresult GenericFactory::QueryInterface(const nsIID& iid, void** result) {
    if (result == nullptr) return NS_ERROR_NULL_POINTER;
    if (iid.Equals(NS_IFACTORY_IID) || iid.Equals(NS_ISUPPORTS_IID)) {
        AddRef();
        *result = static_cast<nsIFactory*>(this);
        return NS_OK;
    }
    *result = nullptr;
    return NS_NOINTERFACE;
}

nsrefcnt GenericFactory::AddRef() { return m_refs.fetch_add(1, std::memory_order_relaxed) + 1; }

nsrefcnt GenericFactory::Release() {
    const nsrefcnt n = m_refs.fetch_sub(1, std::memory_order_acq_rel) - 1;
    if (n == 0) delete this;
    return n;
}

nsresult GenericFactory::CreateInstance(nsISupports* outer, const nsIID& iid, void** result) {
    if (result == nullptr) return NS_ERROR_NULL_POINTER;
    *result = nullptr;
    if (m_ctor == nullptr) return NS_ERROR_FAILURE;
    return m_ctor(outer, iid, result);
}

nsresult GenericFactory::LockFactory(bool /*lock*/) { return NS_OK; }

}  // namespace mozilla
