#include "glue/generic_factory.h"

namespace mozilla {

GenericFactory::GenericFactory(Module::ConstructorProcPtr ctor) : m_ctor(ctor) {}

nsresult GenericFactory::CreateInstance(nsISupports* outer, const nsIID& iid, void** result) {
    if (result == nullptr) return NS_ERROR_NULL_POINTER;
    *result = nullptr;
    if (m_ctor == nullptr) return NS_ERROR_FAILURE;
    return m_ctor(outer, iid, result);
}

nsresult GenericFactory::LockFactory(bool /*lock*/) { return NS_OK; }

}  // namespace mozilla
