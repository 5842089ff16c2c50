// Component surface: IZorvaneExtension, the one object through which a host
// (the browser's scripts, or the zorvane program) drives the engine.
//
// Hosts create it through the contract identifier ZORVANE_EXTENSION_CONTRACTID
// of the component library (libzorvane_component.so). Every method returns
// NS_OK (NS_ERROR_NULL_POINTER only for a null out pointer); the outcome of
// update, sync and overwrite arrives later, inside processEvents, as an
// observer notification of the runtime's observer service:
//   "zorvane_update_callback", "zorvane_sync_callback",
//   "zorvane_overwrite_callback", each with no subject and the status key
//   ("OK" or a "zorvane.kernel.status." key) as data.
// A check that refuses an action before a request is sent (no verified user,
// a tree that does not read) and a cancelled action notify nothing. When the
// runtime has no observer service the notification is skipped.
//
// Trees cross this interface as documents of the bookmark tree XML form.
//
// Life cycle: the first extension object of the process starts the engine's
// framework and the last one to go stops it. An object created after the
// framework was stopped starts it again, so every live extension object has
// a working engine behind it.
//
// Thread rule: every object and every notification belongs to the thread
// that created the first extension object (the host's main thread).
#pragma once

#include <cstdint>

#include "component/zorvane_info.h"
#include "component/zorvane_local_note.h"
#include "xpcom/ns_isupports.h"
#include "xpcom/ns_string.h"

inline constexpr nsIID ZORVANE_IEXTENSION_IID =
    ns_id_literal("{3b0f3c4e-6a55-4f1e-9c3a-7d2e8b41f0a1}");
inline constexpr nsCID ZORVANE_EXTENSION_CID =
    ns_id_literal("{8d5a2f17-04c9-4b3e-a6e1-52c0f9d7b3e4}");
inline constexpr const char* ZORVANE_EXTENSION_CONTRACTID = "@zorvane.net/ZorvaneExtension;1";

// Notification topics.
inline constexpr const char* ZORVANE_UPDATE_TOPIC = "zorvane_update_callback";
inline constexpr const char* ZORVANE_SYNC_TOPIC = "zorvane_sync_callback";
inline constexpr const char* ZORVANE_OVERWRITE_TOPIC = "zorvane_overwrite_callback";

class IZorvaneExtension : public nsISupports {
public:
    static constexpr const nsIID& IID() { return ZORVANE_IEXTENSION_IID; }

    // Slot 3. Takes the user and password (cancels the running action
    // silently) and loads the local record when it belongs to them.
    virtual nsresult setUser(const nsAString& user_name, const nsAString& password) = 0;
    // Slot 4. The data directory of the local files, for the whole process.
    virtual nsresult setDataDirectory(const nsAString& directory) = 0;
    // Slot 5. A new info object with one reference for the caller.
    virtual nsresult getInfo(IZorvaneInfo** info) = 0;
    // Slot 6. A new local-note object with one reference for the caller.
    virtual nsresult getLocalNote(IZorvaneLocalNote** note) = 0;
    // Slot 7. Replaces the account's tree on the server by `tree`;
    // "zorvane_overwrite_callback" follows.
    virtual nsresult overwrite(const nsAString& tree) = 0;
    // Slot 8. Synchronises `tree` with the account; "zorvane_sync_callback"
    // follows. A sync or overwrite already running is cancelled silently.
    virtual nsresult sync(const nsAString& tree) = 0;
    // Slot 9. Adopts the stored tree written by another client type into
    // `tree`'s form.
    virtual nsresult importForeignTree(const nsAString& tree) = 0;
    // Slot 10. *unchanged = 1 when the toolbar, menu and unfiled folders of
    // `tree` equal those of the stored tree, else 0 (also with no stored
    // tree).
    virtual nsresult rootsUnchanged(const nsAString& tree, std::int32_t* unchanged) = 0;
    // Slot 11. Merges `tree` into the stored tree without deleting anything.
    virtual nsresult mergeBrowserTree(const nsAString& tree) = 0;
    // Slot 12. The pump: due timers, then queued work for at most about a
    // second. Notifications are sent from inside this call.
    virtual nsresult processEvents() = 0;
    // Slot 13. Fetches the account's tree when nothing is stored locally;
    // "zorvane_update_callback" follows when a request was sent.
    virtual nsresult update() = 0;
    // Slot 14. Forgets the verification and the record, deletes the record
    // and note files.
    virtual nsresult forgetUser() = 0;
    // Slot 15. Deletes the record and note files; the loaded state stays.
    virtual nsresult deleteLocalData() = 0;
    // Slot 16. Ends the running action; no notification follows.
    virtual nsresult cancel() = 0;
    // Slot 17. The tree handed over by the last sync; empty before any.
    virtual nsresult getSyncInputTree(nsAString& tree) = 0;

protected:
    ~IZorvaneExtension() = default;
};
