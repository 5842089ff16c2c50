// Test support (tests only): a fault plan for the file calls of
// platform/file_ops.h, installed for the lifetime of an object.
#pragma once

#include "platform/file_faults.h"

namespace Core_Platform {

// Installs a fault plan for its lifetime (counters start at 0); the previous
// state (normally no plan) comes back on destruction. Not nestable.
class scoped_file_faults {
public:
    explicit scoped_file_faults(const file_faults_t& plan);
    ~scoped_file_faults();
    scoped_file_faults(const scoped_file_faults&) = delete;
    scoped_file_faults& operator=(const scoped_file_faults&) = delete;
};

}  // namespace Core_Platform
