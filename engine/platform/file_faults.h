// Internal to the engine: the fault plan that the file calls of
// platform/file_ops.h consult. Only tests install one, through
// scoped_file_faults (platform/file_faults_testing.h).
//
// Thread rule: any thread; the plan and its counters are guarded by a lock.
#pragma once

#include <cerrno>
#include <cstdint>

namespace Core_Platform {

// A fault plan. Call indices count from 1 after the plan is installed; 0
// never fails. A failed call sets errno to `error` (fsync, rename, open) or
// ENOSPC/`error` (write).
struct file_faults_t {
    int fail_open_at = 0;
    int fail_write_at = 0;  // that write first writes half of its bytes, then fails
    int fail_fsync_at = 0;  // counts directory syncs too
    int fail_rename_at = 0;
    std::int64_t disk_space = -1;  // bytes writes may still add; -1: unlimited
    int error = EIO;
};

// Installs `plan` (counters start at 0), or with nullptr removes the plan
// installed; while none is installed the file calls cost one relaxed atomic
// load.
void set_file_faults(const file_faults_t* plan);

}  // namespace Core_Platform
