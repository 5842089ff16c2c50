#include "xpcom/ns_memory.h"

#include <cstdlib>

void* NS_Alloc(std::size_t size) { return std::malloc(size == 0 ? 1 : size); }

void* NS_Realloc(void* ptr, std::size_t size) { return std::realloc(ptr, size == 0 ? 1 : size); }

void NS_Free(void* ptr) { std::free(ptr); }
