// Component surface: mozilla::GenericModule, the module object over a
// static Module description.
//
//   - GetClassObject finds the class entry by class identifier and hands out
//     its class object: the entry's factory procedure, or its constructor
//     wrapped in a GenericFactory, or (for an entry with neither) the
//     module's factory procedure. The module's load procedure runs once
//     before the first class object; its failure is returned.
//   - RegisterSelf registers every class identifier, then every contract
//     identifier, with the component registrar (reached from the component
//     manager), then every category entry with the category manager
//     (reached by its contract identifier through the service manager).
//     The first failure stops it and is returned.
//   - UnregisterSelf is not implemented; CanUnload always answers false.
//   - A Module whose version is not Module::kVersion is refused by every
//     operation with NS_ERROR_FAILURE.
//
// Thread rule: any thread; the reference count is atomic, and the load
// procedure runs once even when two threads race to it.
#pragma once

#include <mutex>

#include "glue/module.h"
#include "glue/supports.h"
#include "xpcom/ns_module.h"

namespace mozilla {

class GenericModule final : public zv_glue::supports<GenericModule, nsIModule> {
public:
    // `module` must outlive this object (it is a static record).
    explicit GenericModule(const Module* module);

    nsresult GetClassObject(nsIComponentManager* manager, const nsCID& cid, const nsIID& iid,
                            void** result) override;
    nsresult RegisterSelf(nsIComponentManager* manager, const char* location, const char* loader,
                          const char* type) override;
    nsresult UnregisterSelf(nsIComponentManager* manager, const char* location,
                            const char* loader) override;
    nsresult CanUnload(nsIComponentManager* manager, bool* result) override;

private:
    friend supports;
    // Runs the unload procedure when the load procedure succeeded.
    ~GenericModule();

    nsresult ensure_loaded();

    const Module* m_module;
    std::once_flag m_load_once;
    nsresult m_load_result = NS_OK;
    bool m_loaded = false;
};

}  // namespace mozilla
