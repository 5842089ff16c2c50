// Component surface: IZorvaneFailure, why the last action could not talk to
// the server, where the status key alone cannot say it.
//
// The info object (IZorvaneExtension::getInfo) answers this interface too.
// A host that receives "zorvane.kernel.status.connect_failed" asks it for
// the reason worth showing the user: today, that the server's certificate
// was not trusted and why ("the server's certificate was not trusted:
// certificate verify failed: self-signed certificate", "...: host name
// mismatch"), or that the TLS handshake failed. Other transport failures
// (refused, timed out) and successful actions give the empty string.
//
// Thread rule: the host's main thread.
#pragma once

#include "xpcom/ns_isupports.h"
#include "xpcom/ns_string.h"

inline constexpr nsIID ZORVANE_IFAILURE_IID =
    ns_id_literal("{7abaa833-584a-49ae-ab14-52e9a54610fa}");

class IZorvaneFailure : public nsISupports {
public:
    static constexpr const nsIID& IID() { return ZORVANE_IFAILURE_IID; }

    // Slot 3. One line, or empty (see above).
    virtual nsresult getFailure(nsAString& failure) = 0;

protected:
    ~IZorvaneFailure() = default;
};
