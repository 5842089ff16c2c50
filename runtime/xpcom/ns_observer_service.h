// Runtime surface: nsIObserverService, the runtime's notification hub.
//
// Observers register for a topic (or for "*", every topic). NotifyObservers
// calls the observers of the topic and then those of "*", each in the order
// of registration, on the calling thread. The list is taken when the
// notification starts: an observer added during a notification is not
// called by it, one removed during it still is. The service holds one
// reference to each registered observer until it is removed or the runtime
// shuts down.
//
// A host may run without an observer service (see xpcom/runtime_host.h);
// then the service manager answers its contract identifier with
// NS_ERROR_FACTORY_NOT_REGISTERED and callers must skip their
// notifications.
//
// Thread rule: any thread; the observers run on the notifying thread.
#pragma once

#include "xpcom/ns_isupports.h"

class nsIObserver;

inline constexpr nsIID NS_IOBSERVERSERVICE_IID =
    ns_id_literal("{D07F5192-E3D1-11D2-8ACD-00105A1B8860}");

inline constexpr const char* NS_OBSERVERSERVICE_CONTRACTID = "@mozilla.org/observer-service;1";

class nsIObserverService : public nsISupports {
public:
    static constexpr const nsIID& IID() { return NS_IOBSERVERSERVICE_IID; }

    // Registers `observer` for `topic`. Registering the same observer for the
    // same topic twice keeps one registration. `owns_weak` asks for a weak
    // reference, which this runtime does not have: the reference is strong.
    // NS_ERROR_INVALID_ARG for a null observer or topic.
    virtual nsresult AddObserver(nsIObserver* observer, const char* topic, bool owns_weak) = 0;
    // NS_ERROR_FAILURE when the observer is not registered for the topic.
    virtual nsresult RemoveObserver(nsIObserver* observer, const char* topic) = 0;
    // NS_ERROR_INVALID_ARG for a null topic. The observers' results are
    // ignored.
    virtual nsresult NotifyObservers(nsISupports* subject, const char* topic,
                                     const char16_t* data) = 0;

protected:
    ~nsIObserverService() = default;
};
