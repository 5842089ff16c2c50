// Component surface: IZorvaneTreeCount, how many nodes the document getTree
// gives holds, without the document.
//
// The info object (IZorvaneExtension::getInfo) answers this interface too.
// For a large collection getTree's document is a few hundred megabytes of
// UTF-16 text and takes about a second to write; a host that only shows how
// many bookmarks and folders are stored asks this instead.
//
// Thread rule: the host's main thread.
#pragma once

#include <cstdint>

#include "xpcom/ns_isupports.h"

inline constexpr nsIID ZORVANE_ITREECOUNT_IID =
    ns_id_literal("{59084e90-89d5-4874-9967-68c874f25752}");

class IZorvaneTreeCount : public nsISupports {
public:
    static constexpr const nsIID& IID() { return ZORVANE_ITREECOUNT_IID; }

    // Slot 3. The "node" elements of the document getTree would give now
    // (every folder, bookmark, separator and note, the top folder
    // included); 0 when it would give none. NS_ERROR_NULL_POINTER for a
    // null pointer, else NS_OK.
    virtual nsresult getTreeNodes(std::uint32_t* nodes) = 0;

protected:
    ~IZorvaneTreeCount() = default;
};
