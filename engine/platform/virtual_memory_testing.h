// Test support (tests only): fault injection for platform/virtual_memory.h.
// Both switches are process-wide; they are defined beside the calls they
// change, in platform/virtual_memory.cc.
#pragma once

#include <cstdint>

#include "platform/virtual_memory.h"

namespace Core_Platform {

// Makes the failable call number `n` from now (0 = the next one) among
// vm_reserve, vm_commit and vm_allocate fail with `error`, once. A negative n
// disarms the hook.
void vm_fail_at(std::int64_t n, vm_error_enum error);

// Replaces the values vm_system_info() returns until called again with
// `restore` set to true.
void vm_override_system_info(vm_system_info_t info, bool restore = false);

}  // namespace Core_Platform
