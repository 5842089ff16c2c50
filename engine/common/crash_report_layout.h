// Internal to common/: the layout of "CRASHLOG.TXT", line by line, from
// figures gathered beforehand. Pure: writes only into the report writer, so
// it can run in a signal handler and be checked in tests.
#pragma once

#include <cstdint>

#include "common/crash_report_text.h"
#include "platform/fault_signals.h"

namespace Core_Common {

struct crash_report_input_t {
    const char* program_name = "";
    std::uint32_t code = 0;
    const char* module_name = "Unknown";
    const char* handler_name = "";
    const char* time_text = "";
    const char* exe_path = "Unknown";
    const char* user_name = "Unknown";
    const char* os_name = "";
    const char* os_version = "";
    std::int32_t processor_count = 0;
    std::int32_t processor_type = 0;
    std::uint32_t memory_load = 0;
    std::uint64_t total_physical = 0, available_physical = 0;
    std::uint64_t total_paging = 0, available_paging = 0;
    std::uint64_t total_virtual = 0, available_virtual = 0;
    bool execute_time_known = false;
    std::int64_t execute_seconds = 0;
    const char* socket_init_version = "n/a";
    std::uint32_t msg_id = 0, piece_cache_size = 0, bt_mem_block_size = 0;
    const char16_t* crash_info = u"";
    const char16_t* debug_info = u"";
    // The page allocator's figures.
    std::uint64_t region_count = 0, region_bytes = 0, free_pages = 0, free_page_bytes = 0;
    std::uint64_t small_bytes = 0, large_bytes = 0, large_count = 0;
    // Exception parameters: for an access violation, 0 read / 1 write and
    // the address.
    std::uint32_t parameter_count = 0;
    std::uint64_t parameters[2] = {0, 0};
    Core_Platform::fault_context_t context;
    std::uint8_t code_bytes[16] = {};
    bool code_byte_readable[16] = {};
};

// Everything up to and including "Module List: [Ignored]".
void write_report_body(report_writer_t& out, const crash_report_input_t& in);
// The closing line, naming the file.
void write_report_end(report_writer_t& out, const char* file_name);

}  // namespace Core_Common
