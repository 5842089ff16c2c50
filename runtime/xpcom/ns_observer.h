// Runtime surface: nsIObserver, the receiver of notifications.
#pragma once

#include "xpcom/ns_isupports.h"

inline constexpr nsIID NS_IOBSERVER_IID = ns_id_literal("{144d8152-d567-4473-b899-186b48b10390}");

class nsIObserver : public nsISupports {
public:
    static constexpr const nsIID& IID() { return NS_IOBSERVER_IID; }

    // Called for every notification of a topic the observer is registered
    // for: `subject` (may be null), the topic, and 16-bit data (may be null).
    // The texts are valid for the duration of the call only.
    virtual nsresult Observe(nsISupports* subject, const char* topic, const char16_t* data) = 0;

protected:
    ~nsIObserver() = default;
};
