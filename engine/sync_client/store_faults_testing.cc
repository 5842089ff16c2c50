#include "sync_client/store_faults_testing.h"

namespace Core_ZorvaneClient {

scoped_store_faults::scoped_store_faults(const store_faults_t& faults) {
    set_store_faults(faults.fail_compress, faults.fail_encrypt);
}

scoped_store_faults::~scoped_store_faults() { set_store_faults(false, false); }

}  // namespace Core_ZorvaneClient
