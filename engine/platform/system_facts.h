// Public engine surface: facts about the machine and the process, for
// diagnostic reports.
//
// read_host_facts gathers what does not change while the process runs (it
// may allocate and take locks: call it ahead of time, never from a signal
// handler). The other functions are async-signal-safe: plain system calls
// and fixed buffers only.
#pragma once

#include <cstddef>
#include <cstdint>

namespace Core_Platform {

struct host_facts_t {
    char exe_path[1024] = {};   // the executable's full path; "Unknown" when not known
    char user_name[200] = {};   // the user the process runs as; "Unknown" when not known
    char os_name[128] = {};     // system name and word size, e.g. "Linux 64-bit"
    char os_version[128] = {};  // the kernel release
    std::int32_t processor_count = 0;
    // The processor type in the old numbering of reports: 8664 for x86-64,
    // 586 for 32-bit x86, 0 for others.
    std::int32_t processor_type = 0;
    // Local time minus universal time, in seconds, when the facts were read.
    std::int64_t utc_offset_seconds = 0;
    // When the process started, on the clock of boot_clock_ms; -1 when unknown.
    std::int64_t process_start_boot_ms = -1;
    // The user address space available to the process, in bytes.
    std::uint64_t address_space_bytes = 0;
};

void read_host_facts(host_facts_t& out);

// Memory figures in bytes; load_percent is the share of physical memory in use.
struct memory_status_t {
    std::uint32_t load_percent = 0;
    std::uint64_t total_physical = 0;
    std::uint64_t available_physical = 0;
    std::uint64_t total_paging = 0;  // physical memory plus swap
    std::uint64_t available_paging = 0;
    std::uint64_t total_virtual = 0;      // the user address space
    std::uint64_t available_virtual = 0;  // what the process has not mapped of it
};

// Reads the current figures (sysinfo, and the process's mapped size).
// `address_space_bytes` is host_facts_t::address_space_bytes. False when the
// system does not answer.
bool read_memory_status(std::uint64_t address_space_bytes, memory_status_t& out);

// Seconds since 1970-01-01 00:00:00 UTC.
std::int64_t realtime_seconds();
// Milliseconds since boot (including suspended time).
std::int64_t boot_clock_ms();

}  // namespace Core_Platform
