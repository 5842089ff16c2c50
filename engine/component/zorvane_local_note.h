// Component surface: IZorvaneLocalNote, the signed-in user's local note,
// kept in the data directory.
//
// Created by IZorvaneExtension::getLocalNote. Every method returns NS_OK
// (NS_ERROR_NULL_POINTER for a null out pointer). Without a running engine
// the note reads as empty and writes are dropped.
//
// Thread rule: the host's main thread.
#pragma once

#include "xpcom/ns_isupports.h"
#include "xpcom/ns_string.h"

inline constexpr nsIID ZORVANE_ILOCALNOTE_IID =
    ns_id_literal("{5f9b07d3-2c6e-48a1-b4f2-90e3a8d16c5b}");

class IZorvaneLocalNote : public nsISupports {
public:
    static constexpr const nsIID& IID() { return ZORVANE_ILOCALNOTE_IID; }

    // Slot 3. The current user's note; empty when there is none.
    virtual nsresult getNote(nsAString& note) = 0;
    // Slot 4. Replaces the current user's note.
    virtual nsresult setNote(const nsAString& note) = 0;
    // Slot 5. Deletes the note file.
    virtual nsresult deleteNote() = 0;

protected:
    ~IZorvaneLocalNote() = default;
};
