// Runtime surface: the export marker of the runtime library.
//
// The runtime library (libzorvane_xpcom.so) is built with hidden symbols;
// everything a component or a host may call is marked NS_RUNTIME_API.
#pragma once

#if defined(ZV_BUILDING_RUNTIME)
#define NS_RUNTIME_API __attribute__((visibility("default")))
#else
#define NS_RUNTIME_API
#endif

// Marks the two symbols a component library exports for its host.
#define NS_COMPONENT_EXPORT extern "C" __attribute__((visibility("default")))
