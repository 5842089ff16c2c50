#include "platform/file_faults_testing.h"

namespace Core_Platform {

scoped_file_faults::scoped_file_faults(const file_faults_t& plan) { set_file_faults(&plan); }

scoped_file_faults::~scoped_file_faults() { set_file_faults(nullptr); }

}  // namespace Core_Platform
