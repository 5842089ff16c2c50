#include "common/crash_reporter.h"

#include <atomic>
#include <mutex>

#include "common/crash_calendar.h"
#include "common/crash_exception_codes.h"
#include "common/crash_paths.h"
#include "common/crash_report_layout.h"
#include "common/crash_report_text.h"
#include "common/diagnostic_text.h"
#include "common/pool_block.h"
#include "common/thread_crash.h"
#include "platform/crash_io.h"
#include "platform/process.h"
#include "platform/system_facts.h"

namespace Core_Common {
namespace {

constexpr const char* kDumpFile = "CRASH.DMP";
constexpr const char* kTextFile = "CRASHLOG.TXT";
constexpr const char* kDataFile = "CRASHLOG.DAT";
constexpr const char* kHelperName = "CrashReport";

// Cleared by the first report; a second report ends the process at once.
std::atomic<bool> g_report_once{true};

std::once_flag g_install_once;
bool g_install_result = false;

// Read at install time, read-only afterwards.
Core_Platform::host_facts_t g_facts;
char g_program_name[256] = "Unknown";
char g_helper_path[1100] = {};
bool g_helper_path_ok = false;

// Written by the socket layer before any crash it could be part of.
char g_socket_init_version[128] = "n/a";
std::atomic<bool> g_socket_text_busy{false};

// Counters the report prints; nothing in the engine changes them.
std::atomic<std::uint32_t> g_msg_id{0};
std::atomic<std::uint32_t> g_piece_cache_size{0};
std::atomic<std::uint32_t> g_bt_mem_block_size{0};

char16_t g_report_buffer[report_writer_t::BUFFER_CAPACITY];
crash_report_input_t g_input;  // static: keeps the signal stack small

bool write_to_fd(void* context, const unsigned char* bytes, std::size_t size) {
    return Core_Platform::write_fully(*static_cast<int*>(context), bytes, size);
}

void on_fault(const Core_Platform::fault_context_t& fault) {
    if (write_crash_report(crash_exception_from_fault(fault), THREAD_CRASH_HANDLER_NAME) == 1) {
        Core_Platform::exit_process(THREAD_CRASH_EXIT_CODE);
    }
    // No report: return, and the signal takes its default course.
}

void read_facts() {
    Core_Platform::read_host_facts(g_facts);
    program_name_of(g_facts.exe_path, g_program_name, sizeof g_program_name);
    g_helper_path_ok =
        sibling_path(g_facts.exe_path, kHelperName, g_helper_path, sizeof g_helper_path);
    Core_Platform::prepare_memory_probe();
    pool_block::process();  // created now, never inside a report
}

void gather(crash_report_input_t& in, const crash_exception_t& exception, const char* handler_name,
            char* time_text, std::size_t time_capacity, char* module_path,
            std::size_t module_capacity) {
    in = crash_report_input_t{};
    in.program_name = g_program_name;
    in.code = exception.code;
    in.context = exception.context;
    in.parameter_count = exception.parameter_count;
    in.parameters[0] = exception.parameters[0];
    in.parameters[1] = exception.parameters[1];
    in.handler_name = handler_name != nullptr ? handler_name : "";

    if (Core_Platform::module_path_of(static_cast<std::uintptr_t>(exception.context.ip),
                                      module_path, module_capacity)) {
        in.module_name = file_name_of(module_path);
    }
    const civil_time_t now =
        civil_from_seconds(Core_Platform::realtime_seconds() + g_facts.utc_offset_seconds);
    fat_time_text(now, time_text, time_capacity);
    in.time_text = time_text;
    in.exe_path = g_facts.exe_path;
    in.user_name = g_facts.user_name;
    in.os_name = g_facts.os_name;
    in.os_version = g_facts.os_version;
    in.processor_count = g_facts.processor_count;
    in.processor_type = g_facts.processor_type;

    Core_Platform::memory_status_t memory;
    if (Core_Platform::read_memory_status(g_facts.address_space_bytes, memory)) {
        in.memory_load = memory.load_percent;
        in.total_physical = memory.total_physical;
        in.available_physical = memory.available_physical;
        in.total_paging = memory.total_paging;
        in.available_paging = memory.available_paging;
        in.total_virtual = memory.total_virtual;
        in.available_virtual = memory.available_virtual;
    }
    if (g_facts.process_start_boot_ms >= 0) {
        in.execute_time_known = true;
        in.execute_seconds =
            (Core_Platform::boot_clock_ms() - g_facts.process_start_boot_ms) / 1000;
    }
    in.socket_init_version = g_socket_init_version;
    in.msg_id = g_msg_id.load();
    in.piece_cache_size = g_piece_cache_size.load();
    in.bt_mem_block_size = g_bt_mem_block_size.load();
    in.crash_info = crash_info_text_buffer();
    in.debug_info = debug_info_text_buffer();

    pool_block_stats_t stats;
    pool_block_try_stats(stats);  // zeros when another thread holds the allocator
    in.region_count = stats.region_count;
    in.region_bytes = stats.region_bytes;
    in.free_pages = stats.free_pages;
    in.free_page_bytes = stats.free_page_bytes;
    in.small_bytes = stats.small_bytes;
    in.large_bytes = stats.large_bytes;
    in.large_count = stats.large_count;

    for (int i = 0; i < 16; ++i) {
        in.code_byte_readable[i] = Core_Platform::read_memory_byte(
            static_cast<std::uintptr_t>(exception.context.ip) + i, in.code_bytes[i]);
    }
}

}  // namespace

bool install_crash_reporter() {
    std::call_once(g_install_once, [] {
        read_facts();
        g_install_result = Core_Platform::install_fault_handler(on_fault);
    });
    return g_install_result;
}

service_thread_crash_guard::service_thread_crash_guard() { install_crash_reporter(); }

crash_exception_t crash_exception_from_fault(const Core_Platform::fault_context_t& fault) {
    crash_exception_t e;
    e.code = fault.stack_overflow ? CRASH_CODE_STACK_OVERFLOW
                                  : exception_code_for_signal(fault.signal, fault.signal_code);
    e.context = fault;
    if (e.code == CRASH_CODE_ACCESS_VIOLATION && fault.from_kernel) {
        e.parameter_count = 2;
        e.parameters[0] = fault.write_access ? 1 : 0;
        e.parameters[1] = fault.fault_address;
    }
    return e;
}

int write_crash_report(const crash_exception_t& exception, const char* handler_name) {
    if (!g_report_once.exchange(false)) Core_Platform::exit_process(THREAD_CRASH_EXIT_CODE);

    const int dump = Core_Platform::create_report_file(kDumpFile);
    if (dump >= 0) {
        // No dump library on this platform: the file stays empty.
        Core_Platform::write_debug_output("writing minidump\n");
        Core_Platform::close_file(dump);
    }

    int text = Core_Platform::create_report_file(kTextFile);
    if (text < 0) {
        Core_Platform::write_debug_output("Error creating exception report\n");
        return 0;
    }
    char time_text[32] = {};
    char module_path[1024] = {};
    gather(g_input, exception, handler_name, time_text, sizeof time_text, module_path,
           sizeof module_path);

    report_writer_t out(g_report_buffer, write_to_fd, &text);
    out.text(u"\uFEFF");
    write_report_body(out, g_input);

    const int data = Core_Platform::create_report_file(kDataFile);
    if (data >= 0) {
        Core_Platform::close_file(data);
    } else {
        Core_Platform::write_debug_output("Error creating SysLog.dat\n");
    }

    write_report_end(out, kTextFile);
    out.flush();
    Core_Platform::close_file(text);

    if (g_helper_path_ok && Core_Platform::executable_exists(g_helper_path)) {
        Core_Platform::start_detached(g_helper_path, file_name_of(g_facts.exe_path));
    }
    return 1;
}

void set_socket_init_version_text(std::string_view text) {
    // A writer at a time; a report reading meanwhile may see a mix, never an
    // unterminated text.
    bool expected = false;
    while (!g_socket_text_busy.compare_exchange_weak(expected, true)) expected = false;
    const std::size_t n = text.size() < sizeof g_socket_init_version - 1
                              ? text.size()
                              : sizeof g_socket_init_version - 1;
    g_socket_init_version[n] = '\0';
    for (std::size_t i = 0; i < n; ++i) g_socket_init_version[i] = text[i];
    g_socket_text_busy.store(false);
}

}  // namespace Core_Common
