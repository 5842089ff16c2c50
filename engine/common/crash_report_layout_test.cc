#include "common/crash_report_layout.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "common/crash_exception_codes.h"

namespace Core_Common {
namespace {

bool collect(void* context, const unsigned char* bytes, std::size_t size) {
    auto* text = static_cast<std::u16string*>(context);
    for (std::size_t i = 0; i + 1 < size; i += 2) {
        text->push_back(static_cast<char16_t>(bytes[i] | (bytes[i + 1] << 8)));
    }
    return true;
}

std::vector<std::u16string> lines_of(const std::u16string& text) {
    std::vector<std::u16string> lines;
    std::size_t start = 0;
    for (std::size_t pos; (pos = text.find(u"\r\n", start)) != std::u16string::npos;
         start = pos + 2) {
        lines.push_back(text.substr(start, pos - start));
    }
    lines.push_back(text.substr(start));
    return lines;
}

crash_report_input_t sample_input() {
    crash_report_input_t in;
    in.program_name = "browser";
    in.code = CRASH_CODE_ACCESS_VIOLATION;
    in.module_name = "libzorvane_component.so";
    in.handler_name = "Exception_Debuger";
    in.time_text = "3/4/2011 05:06:06";
    in.exe_path = "/opt/browser/browser";
    in.user_name = "jo";
    in.os_name = "Linux 64-bit";
    in.os_version = "6.1.0";
    in.processor_count = 2;
    in.processor_type = 8664;
    in.memory_load = 37;
    in.total_physical = 3584ull * 1048576 + 1;
    in.available_physical = 1048576;
    in.total_paging = 2 * 1048576;
    in.available_paging = 1;
    in.total_virtual = 4096ull * 1048576;
    in.available_virtual = 4000ull * 1048576;
    in.execute_time_known = true;
    in.execute_seconds = 2 * 86400 + 3 * 3600 + 4 * 60 + 5;
    in.crash_info = u"Not enough memory.";
    in.debug_info = u"";
    in.region_count = 2;
    in.region_bytes = 131072;
    in.free_pages = 3;
    in.free_page_bytes = 12288;
    in.small_bytes = 4096;
    in.large_bytes = 65536;
    in.large_count = 1;
    in.parameter_count = 2;
    in.parameters[0] = 0;
    in.parameters[1] = 0;
    in.context.cs = 0x33;
    in.context.ip = 0x401000;
    in.context.di = 1;
    in.context.si = 2;
    in.context.ax = 3;
    in.context.bx = 4;
    in.context.cx = 5;
    in.context.dx = 6;
    in.context.bp = 7;
    in.context.sp = 0x7ffd12345678;
    in.context.flags = 0x10246;
    in.context.ss = 0x2b;
    for (int i = 0; i < 16; ++i) {
        in.code_bytes[i] = static_cast<std::uint8_t>(0xA0 + i);
        in.code_byte_readable[i] = i < 14;
    }
    return in;
}

TEST(CrashReportLayout, LineByLine) {
    static char16_t buffer[report_writer_t::BUFFER_CAPACITY];
    std::u16string text;
    report_writer_t out(buffer, collect, &text);
    write_report_body(out, sample_input());
    write_report_end(out, "CRASHLOG.TXT");
    out.flush();

    const std::vector<std::u16string> expected = {
        u"browser caused an Access Violation (0xc0000005) ",
        u"in module libzorvane_component.so at 0033:00401000.",
        u"",
        u"Exception handler called in Exception_Debuger.",
        u"Error occurred at 3/4/2011 05:06:06.",
        u"/opt/browser/browser, run by jo.",
        u"Operating system:  Linux 64-bit (6.1.0).",
        u"2 processor(s), type 8664.",
        u"37% memory in use.",
        u"3585 MBytes physical memory.",
        u"1 MBytes physical memory free.",
        u"2 MBytes paging file.",
        u"1 MBytes paging file free.",
        u"4096 MBytes user address space.",
        u"4000 MBytes user address space free.",
        u"",
        u"Program name: ",
        u"Process execute time: 2 day 3:4:5",
        u"Program status: ",
        u"Program mode: ",
        u"Socket init version: n/a",
        u"web frame: ",
        u"msg id: 0",
        u"piece cache size: 0",
        u"bt mem_block_size: 0",
        u"crash info: Not enough memory.",
        u"debug info: ",
        u"",
        u"pool_block dump:",
        u"  allocated_size = 131072",
        u"    allocated_list_size = 2",
        u"    free_block_size = 12288",
        u"    free_block_num = 3",
        u"    commited_size = 4096",
        u"  notblock_size = 65536",
        u"    notblock_number = 1",
        u"  total_size = 196608",
        u"",
        u"Read from location 00000000 caused an access violation.",
        u"",
        u"Context:",
        u"EDI:    0x00000001  ESI: 0x00000002  EAX:   0x00000003",
        u"EBX:    0x00000004  ECX: 0x00000005  EDX:   0x00000006",
        u"EIP:    0x00401000  EBP: 0x00000007  SegCs: 0x00000033",
        u"EFlags: 0x00010246  ESP: 0x7ffd12345678  SegSs: 0x0000002b",
        u"",
        u"Bytes at CS:EIP:",
        u"a0 a1 a2 a3 a4 a5 a6 a7 a8 a9 aa ab ac ad ?? ?? ",
        u"",
        u"Stack: [Ignored]",
        u"",
        u"Module List: [Ignored]",
        u"",
        u"===== [end of CRASHLOG.TXT] =====",
        u"",
    };
    EXPECT_EQ(lines_of(text), expected);
}

TEST(CrashReportLayout, OptionalLines) {
    static char16_t buffer[report_writer_t::BUFFER_CAPACITY];
    std::u16string text;
    report_writer_t out(buffer, collect, &text);
    crash_report_input_t in = sample_input();
    in.parameters[0] = 1;
    in.parameters[1] = 0x10;
    write_report_body(out, in);
    out.flush();
    EXPECT_NE(text.find(u"Write to location 00000010 caused an access violation.\r\n"),
              std::u16string::npos);

    text.clear();
    in.code = CRASH_CODE_CPP_EXCEPTION;  // the line is for access violations only
    in.execute_time_known = false;
    write_report_body(out, in);
    out.flush();
    EXPECT_EQ(text.find(u"caused an access violation"), std::u16string::npos);
    EXPECT_EQ(text.find(u"Process execute time"), std::u16string::npos);
    EXPECT_EQ(text.find(u"browser caused a Microsoft C++ Exception (0xe06d7363) "), 0u);

    text.clear();
    in.code = CRASH_CODE_ACCESS_VIOLATION;
    in.parameter_count = 0;  // a signal sent by a process: no address
    write_report_body(out, in);
    out.flush();
    EXPECT_EQ(text.find(u"caused an access violation"), std::u16string::npos);
}

}  // namespace
}  // namespace Core_Common
