// Internal to the engine (used by common/crypto.h): the operating system's
// cryptographic random generator.
//
// Thread rule: callable from any thread; no state of its own.
#pragma once

#include <cstddef>

namespace Core_Platform {

// Fills `count` bytes of `buffer` from the kernel's cryptographic generator
// (getrandom(2)), waiting at boot until it is seeded. The kernel does not fail
// such a request once seeded; should it fail anyway (a kernel without the
// call), this throws boost::system::system_error with errno in the system
// category rather than hand out predictable bytes.
void system_random(void* buffer, std::size_t count);

}  // namespace Core_Platform
