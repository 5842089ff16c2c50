// Runtime surface: the runtime's allocator.
//
// Memory that crosses the boundary between a component and the runtime (an
// adopted string buffer, a category value handed out) comes from NS_Alloc
// and goes back with NS_Free, so that both sides use the same heap.
#pragma once

#include <cstddef>

#include "xpcom/export.h"

// At least `size` bytes (1 for size 0), or null when memory is exhausted.
NS_RUNTIME_API void* NS_Alloc(std::size_t size);
// Resizes memory from NS_Alloc (null: as NS_Alloc), keeping what fits;
// null when memory is exhausted, and `ptr` is then unchanged.
NS_RUNTIME_API void* NS_Realloc(void* ptr, std::size_t size);
// Returns memory from NS_Alloc; null does nothing.
NS_RUNTIME_API void NS_Free(void* ptr);
