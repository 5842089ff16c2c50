// Host surface: loading a component library the way the browser does.
//
// load_component opens a component library with the dynamic loader, asks it
// for its module object (its NSGetModule export; a library that exports only
// its NSModule description gets a GenericModule over that), and registers
// the module with the running runtime under the library's path. From then
// on the library's classes can be created by contract identifier, through
// create_component_instance or the runtime's component manager.
//
// A loaded library is never unloaded: its module may be held by the runtime
// and its objects by anyone, and GenericModule never allows unloading.
//
// Thread rule: the host's main thread, with the runtime running
// (xpcom/runtime_host.h).
#pragma once

#include <string>

#include "xpcom/ns_id.h"
#include "xpcom/ns_result.h"

namespace zv_host {

// Loads and registers the component library at `path`. On failure returns a
// failure code and, when `error` is given, stores a one-line reason naming
// the path (the loader's own message when the library cannot be opened):
//   - NS_ERROR_NOT_INITIALIZED: the runtime does not run;
//   - NS_ERROR_FAILURE: the library cannot be opened, exports neither
//     NSGetModule nor NSModule, its NSGetModule gives no module, or its module
//     description has another version;
//   - NS_ERROR_FACTORY_EXISTS: a library is registered under `path` already;
//   - the module's own failure from NSGetModule or registration.
nsresult load_component(const std::string& path, std::string* error = nullptr);

// Finds the class object registered for `contract_id` and asks it for a new
// instance (no outer object) as interface `iid`, stored with one reference in
// *result. On failure *result is null and the result is the component
// manager's or the factory's failure (NS_ERROR_FACTORY_NOT_REGISTERED for an
// unknown contract identifier).
nsresult create_component_instance(const char* contract_id, const nsIID& iid, void** result);

}  // namespace zv_host
