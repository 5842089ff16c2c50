#include "common/crash_report_layout.h"

#include "common/crash_exception_codes.h"

namespace Core_Common {

void write_report_body(report_writer_t& out, const crash_report_input_t& in) {
    const Core_Platform::fault_context_t& c = in.context;
    out.line("%s caused %s (0x%08x) \r\nin module %s at %04x:%08x.\r\n\r\n", in.program_name,
             exception_name(in.code), in.code, in.module_name, c.cs, c.ip);
    out.line("Exception handler called in %s.\r\n", in.handler_name);
    out.line("Error occurred at %s.\r\n", in.time_text);
    out.line("%s, run by %s.\r\n", in.exe_path, in.user_name);
    out.line("Operating system:  %s (%s).\r\n", in.os_name, in.os_version);
    out.line("%d processor(s), type %d.\r\n", in.processor_count, in.processor_type);
    out.line("%d%% memory in use.\r\n", in.memory_load);
    out.line("%d MBytes physical memory.\r\n", mebibytes_rounded_up(in.total_physical));
    out.line("%d MBytes physical memory free.\r\n", mebibytes_rounded_up(in.available_physical));
    out.line("%d MBytes paging file.\r\n", mebibytes_rounded_up(in.total_paging));
    out.line("%d MBytes paging file free.\r\n", mebibytes_rounded_up(in.available_paging));
    out.line("%d MBytes user address space.\r\n", mebibytes_rounded_up(in.total_virtual));
    out.line("%d MBytes user address space free.\r\n", mebibytes_rounded_up(in.available_virtual));
    out.line("\r\n");
    out.line("Program name: %s\r\n", "");
    if (in.execute_time_known) {
        const std::int64_t s = in.execute_seconds < 0 ? 0 : in.execute_seconds;
        out.line("Process execute time: %d day %d:%d:%d\r\n", s / 86400, s % 86400 / 3600,
                 s % 3600 / 60, s % 60);
    }
    out.line("Program status: %s\r\n", "");
    out.line("Program mode: %s\r\n", "");
    out.line("Socket init version: %s\r\n", in.socket_init_version);
    out.line("web frame: %s\r\n", "");
    out.line("msg id: %u\r\n", in.msg_id);
    out.line("piece cache size: %u\r\n", in.piece_cache_size);
    out.line("bt mem_block_size: %u\r\n", in.bt_mem_block_size);
    out.line("crash info: ");
    out.text(in.crash_info);
    out.line("\r\n");
    out.line("debug info: ");
    out.text(in.debug_info);
    out.line("\r\n");
    out.line("\r\n");
    out.line("pool_block dump:\r\n");
    out.line("  allocated_size = %u\r\n", in.region_bytes);
    out.line("    allocated_list_size = %u\r\n", in.region_count);
    out.line("    free_block_size = %u\r\n", in.free_page_bytes);
    out.line("    free_block_num = %u\r\n", in.free_pages);
    out.line("    commited_size = %u\r\n", in.small_bytes);
    out.line("  notblock_size = %u\r\n", in.large_bytes);
    out.line("    notblock_number = %u\r\n", in.large_count);
    out.line("  total_size = %u\r\n", in.region_bytes + in.large_bytes);
    out.line("\r\n");
    if (in.code == CRASH_CODE_ACCESS_VIOLATION && in.parameter_count >= 2) {
        out.line("%s location %08x caused an access violation.\r\n",
                 in.parameters[0] == 0 ? "Read from" : "Write to", in.parameters[1]);
    }
    out.line("\r\n");
    out.line("Context:\r\n");
    out.line("EDI:    0x%08x  ESI: 0x%08x  EAX:   0x%08x\r\n", c.di, c.si, c.ax);
    out.line("EBX:    0x%08x  ECX: 0x%08x  EDX:   0x%08x\r\n", c.bx, c.cx, c.dx);
    out.line("EIP:    0x%08x  EBP: 0x%08x  SegCs: 0x%08x\r\n", c.ip, c.bp, c.cs);
    out.line("EFlags: 0x%08x  ESP: 0x%08x  SegSs: 0x%08x\r\n", c.flags, c.sp, c.ss);
    out.line("\r\nBytes at CS:EIP:\r\n");
    for (int i = 0; i < 16; ++i) {
        if (in.code_byte_readable[i]) {
            out.line("%02x ", static_cast<std::uint32_t>(in.code_bytes[i]));
        } else {
            out.line("?? ");
        }
    }
    out.line("\r\n\r\nStack: [Ignored]\r\n\r\n");
    out.line("Module List: [Ignored]\r\n");
}

void write_report_end(report_writer_t& out, const char* file_name) {
    out.line("\r\n===== [end of %s] =====\r\n", file_name);
}

}  // namespace Core_Common
