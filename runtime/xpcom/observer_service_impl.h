// Internal to the runtime: the observer service (xpcom/ns_observer_service.h
// states its contract).
#pragma once

#include <mutex>
#include <string>
#include <vector>

#include "xpcom/ns_observer.h"
#include "xpcom/ns_observer_service.h"
#include "xpcom/ref_count.h"

namespace zv_runtime {

inline constexpr nsCID OBSERVER_SERVICE_CID =
    ns_id_literal("{fdecae1e-6cc8-4003-b8a8-42c2a17f781c}");

class observer_service_impl final : public nsIObserverService {
public:
    observer_service_impl() = default;

    nsresult QueryInterface(const nsIID& iid, void** result) override;
    nsrefcnt AddRef() override;
    nsrefcnt Release() override;

    nsresult AddObserver(nsIObserver* observer, const char* topic, bool owns_weak) override;
    nsresult RemoveObserver(nsIObserver* observer, const char* topic) override;
    nsresult NotifyObservers(nsISupports* subject, const char* topic,
                             const char16_t* data) override;

    // Releases every observer; later registrations are refused with
    // NS_ERROR_NOT_INITIALIZED.
    void shutdown();

private:
    ~observer_service_impl();

    struct entry_t {
        std::string m_topic;
        nsIObserver* m_observer;
    };

    ref_count m_refs;
    std::mutex m_lock;
    std::vector<entry_t> m_entries;  // registration order
    bool m_shut_down = false;
};

}  // namespace zv_runtime
