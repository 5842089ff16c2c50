// Test support (tests only): makes the packing of the record and notes
// files (sync_client/local_store.h) fail at the named step.
#pragma once

namespace Core_ZorvaneClient {

struct store_faults_t {
    bool fail_compress = false;
    bool fail_encrypt = false;
};

// The switches themselves, process-wide, defined beside the packing in
// sync_client/local_store.cc.
void set_store_faults(bool fail_compress, bool fail_encrypt);

// Sets the switches for the lifetime of the object (not nestable).
class scoped_store_faults {
public:
    explicit scoped_store_faults(const store_faults_t& faults);
    ~scoped_store_faults();
    scoped_store_faults(const scoped_store_faults&) = delete;
    scoped_store_faults& operator=(const scoped_store_faults&) = delete;
};

}  // namespace Core_ZorvaneClient
