// Component surface: IZorvaneInfo, a read-only view of the account, the last
// synchronised record and the current action, as they are at each call.
//
// Created by IZorvaneExtension::getInfo. Every method returns NS_OK
// (NS_ERROR_NULL_POINTER for a null out pointer). When no engine runs (every
// extension object is gone) the answers are those of an empty client: empty
// texts, 0, version -1 and "zorvane.kernel.status.idle".
//
// Thread rule: the host's main thread.
#pragma once

#include <cstdint>

#include "xpcom/ns_isupports.h"
#include "xpcom/ns_string.h"

inline constexpr nsIID ZORVANE_IINFO_IID = ns_id_literal("{c41e6d2a-93b8-4f07-8e5d-1fa2b6c7d809}");

class IZorvaneInfo : public nsISupports {
public:
    static constexpr const nsIID& IID() { return ZORVANE_IINFO_IID; }

    // Slot 3. The account's user name.
    virtual nsresult getUserName(nsAString& user_name) = 0;
    // Slot 4. 1 when the server or the local record has accepted the user.
    virtual nsresult getVerified(std::int32_t* verified) = 0;
    // Slot 5. The last synchronised tree as an XML document; empty when none.
    virtual nsresult getTree(nsAString& tree) = 0;
    // Slot 6. The server's version of the last synchronised tree; -1: none.
    virtual nsresult getVersion(std::int32_t* version) = 0;
    // Slot 7. The date of the last synchronisation, in the machine's local
    // time, "YYYY-MM-DD hh:mm:ss"; empty when there is none or it does not
    // read.
    virtual nsresult getDate(nsAString& date) = 0;
    // Slot 8. "zorvane.kernel.status." followed by "idle", "updating",
    // "syncing" or "overwriting".
    virtual nsresult getStatus(nsAString& status) = 0;

protected:
    ~IZorvaneInfo() = default;
};
