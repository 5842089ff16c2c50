#include "xpcom/observer_service_impl.h"

#include <cstring>
#include <new>

namespace zv_runtime {

observer_service_impl::~observer_service_impl() { shutdown(); }

nsresult observer_service_impl::AddObserver(nsIObserver* observer, const char* topic,
                                            bool /*owns_weak*/) {
    if (observer == nullptr || topic == nullptr) return NS_ERROR_INVALID_ARG;
    std::lock_guard<std::mutex> guard(m_lock);
    if (m_shut_down) return NS_ERROR_NOT_INITIALIZED;
    for (const entry_t& e : m_entries) {
        if (e.m_observer == observer && e.m_topic == topic) return NS_OK;
    }
    try {
        m_entries.push_back(entry_t{topic, observer});
    } catch (const std::bad_alloc&) {
        return NS_ERROR_OUT_OF_MEMORY;
    }
    observer->AddRef();
    return NS_OK;
}

nsresult observer_service_impl::RemoveObserver(nsIObserver* observer, const char* topic) {
    if (observer == nullptr || topic == nullptr) return NS_ERROR_INVALID_ARG;
    nsIObserver* removed = nullptr;
    {
        std::lock_guard<std::mutex> guard(m_lock);
        for (auto it = m_entries.begin(); it != m_entries.end(); ++it) {
            if (it->m_observer == observer && it->m_topic == topic) {
                removed = it->m_observer;
                m_entries.erase(it);
                break;
            }
        }
    }
    if (removed == nullptr) return NS_ERROR_FAILURE;
    removed->Release();  // outside the lock: the observer may go away here
    return NS_OK;
}

nsresult observer_service_impl::NotifyObservers(nsISupports* subject, const char* topic,
                                                const char16_t* data) {
    if (topic == nullptr) return NS_ERROR_INVALID_ARG;
    std::vector<nsIObserver*> targets;
    {
        std::lock_guard<std::mutex> guard(m_lock);
        try {
            for (const entry_t& e : m_entries) {
                if (e.m_topic == topic) targets.push_back(e.m_observer);
            }
            for (const entry_t& e : m_entries) {
                if (e.m_topic == "*") targets.push_back(e.m_observer);
            }
        } catch (const std::bad_alloc&) {
            return NS_ERROR_OUT_OF_MEMORY;
        }
        // Held until the call returns, so that an observer removed during
        // the notification stays alive while it is being called.
        for (nsIObserver* o : targets) o->AddRef();
    }
    for (nsIObserver* o : targets) {
        o->Observe(subject, topic, data);
        o->Release();
    }
    return NS_OK;
}

void observer_service_impl::shutdown() {
    std::vector<entry_t> entries;
    {
        std::lock_guard<std::mutex> guard(m_lock);
        m_shut_down = true;
        entries.swap(m_entries);
    }
    for (entry_t& e : entries) e.m_observer->Release();
}

}  // namespace zv_runtime
