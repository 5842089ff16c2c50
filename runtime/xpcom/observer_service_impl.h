// Internal to the runtime: the observer service (xpcom/ns_observer_service.h
// states its contract).
#pragma once

#include <mutex>
#include <string>
#include <vector>

#include "glue/supports.h"
#include "xpcom/ns_observer.h"
#include "xpcom/ns_observer_service.h"

namespace zv_runtime {

inline constexpr nsCID OBSERVER_SERVICE_CID =
    ns_id_literal("{fdecae1e-6cc8-4003-b8a8-42c2a17f781c}");

class observer_service_impl final
    : public zv_glue::supports<observer_service_impl, nsIObserverService> {
public:
    observer_service_impl() = default;

    nsresult AddObserver(nsIObserver* observer, const char* topic, bool owns_weak) override;
    nsresult RemoveObserver(nsIObserver* observer, const char* topic) override;
    nsresult NotifyObservers(nsISupports* subject, const char* topic,
                             const char16_t* data) override;

    // Releases every observer; later registrations are refused with
    // NS_ERROR_NOT_INITIALIZED.
    void shutdown();

private:
    friend supports;
    ~observer_service_impl();

    struct entry_t {
        std::string m_topic;
        nsIObserver* m_observer;
    };

    std::mutex m_lock;
    std::vector<entry_t> m_entries;  // registration order
    bool m_shut_down = false;
};

}  // namespace zv_runtime
