// Internal to the component front: the implementations of the three
// scriptable interfaces (component/zorvane_extension.h, zorvane_info.h,
// zorvane_local_note.h).
//
// Reference counting and QueryInterface are glue/supports.h's: a new object
// has count 0; AddRef returns the new count; Release returns it and
// destroys the object when it reaches 0. QueryInterface answers the
// object's own interface (the info object's two) and then nsISupports, with
// a reference added; anything else gives a null result and NS_NOINTERFACE.
//
// Thread rule: the host's main thread; nothing here is locked.
#pragma once

#include <cstdint>

#include "component/zorvane_extension.h"
#include "glue/supports.h"

namespace Core_ZorvaneComponent {

class InterfaceZorvaneExtension final
    : public zv_glue::supports<InterfaceZorvaneExtension, IZorvaneExtension> {
public:
    // Starts the framework when no other extension object lives.
    InterfaceZorvaneExtension();

    nsresult setUser(const nsAString& user_name, const nsAString& password) override;
    nsresult setDataDirectory(const nsAString& directory) override;
    nsresult getInfo(IZorvaneInfo** info) override;
    nsresult getLocalNote(IZorvaneLocalNote** note) override;
    nsresult overwrite(const nsAString& tree) override;
    nsresult sync(const nsAString& tree) override;
    nsresult importForeignTree(const nsAString& tree) override;
    nsresult rootsUnchanged(const nsAString& tree, std::int32_t* unchanged) override;
    nsresult mergeBrowserTree(const nsAString& tree) override;
    nsresult processEvents() override;
    nsresult update() override;
    nsresult forgetUser() override;
    nsresult deleteLocalData() override;
    nsresult cancel() override;
    nsresult getSyncInputTree(nsAString& tree) override;

    // Stops the framework when it was the last extension object.
    virtual ~InterfaceZorvaneExtension();
};

// The number of live extension objects.
std::int32_t live_extensions();

// The data of the last notification of `topic` (one of the three topics),
// empty before the first.
std::u16string last_notification(const char* topic);

}  // namespace Core_ZorvaneComponent
