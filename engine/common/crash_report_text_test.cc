#include "common/crash_report_text.h"

#include <gtest/gtest.h>
#include <signal.h>

#include <string>
#include <vector>

#include "common/crash_calendar.h"
#include "common/crash_exception_codes.h"
#include "common/crash_paths.h"

namespace Core_Common {
namespace {

std::u16string format(const char* fmt, std::vector<report_arg_t> args) {
    char16_t out[2048];
    const std::size_t n = format_report_line(out, 2048, fmt, args.data(), args.size());
    return std::u16string(out, n);
}

TEST(CrashExceptionName, NamesTheTableWithArticles) {
    EXPECT_STREQ(exception_name(0xC0000005u), "an Access Violation");
    EXPECT_STREQ(exception_name(0x40010005u), "a Control-C");
    EXPECT_STREQ(exception_name(0xC000008Cu), "a Array Bounds Exceeded");
    EXPECT_STREQ(exception_name(0xC00000FDu), "a Stack Overflow");
    EXPECT_STREQ(exception_name(0xE06D7363u), "a Microsoft C++ Exception");
    EXPECT_STREQ(exception_name(0x12345678u), "an Unknown exception type");
    EXPECT_STREQ(exception_name(CRASH_CODE_FATAL_APP_EXIT), "an Unknown exception type");
}

TEST(CrashExceptionName, SignalsMapToCodes) {
    EXPECT_EQ(exception_code_for_signal(SIGSEGV, SEGV_MAPERR), CRASH_CODE_ACCESS_VIOLATION);
    EXPECT_EQ(exception_code_for_signal(SIGBUS, BUS_ADRALN), CRASH_CODE_DATATYPE_MISALIGNMENT);
    EXPECT_EQ(exception_code_for_signal(SIGBUS, BUS_ADRERR), CRASH_CODE_IN_PAGE_ERROR);
    EXPECT_EQ(exception_code_for_signal(SIGFPE, FPE_INTDIV), CRASH_CODE_INTEGER_DIVIDE_BY_ZERO);
    EXPECT_EQ(exception_code_for_signal(SIGFPE, FPE_FLTDIV), CRASH_CODE_FLOAT_DIVIDE_BY_ZERO);
    EXPECT_EQ(exception_code_for_signal(SIGILL, ILL_ILLOPC), CRASH_CODE_ILLEGAL_INSTRUCTION);
    EXPECT_EQ(exception_code_for_signal(SIGILL, ILL_PRVOPC), CRASH_CODE_PRIVILEGED_INSTRUCTION);
    EXPECT_EQ(exception_code_for_signal(SIGABRT, SI_TKILL), CRASH_CODE_FATAL_APP_EXIT);
}

TEST(WindowsVersionName, FollowsTheTable) {
    auto name = [](std::uint32_t p, std::uint32_t ma, std::uint32_t mi, std::uint32_t b,
                   std::uint32_t arch) {
        return std::string(windows_version_name(true, p, ma, mi, b, arch).name);
    };
    EXPECT_EQ(name(2, 6, 1, 7601, 9), "Windows 7 64-bit");
    EXPECT_EQ(name(2, 5, 1, 2600, 0), "Windows XP 32-bit");
    EXPECT_EQ(name(2, 5, 1, 2600, 6), "Windows XP");
    EXPECT_EQ(name(1, 4, 0, 950, 0), "Windows 95 32-bit");
    EXPECT_EQ(name(1, 4, 0, 951, 1), "Windows 95 SP1");
    EXPECT_EQ(name(1, 4, 0, 1080, 1), "Windows 95 SP1");
    EXPECT_EQ(name(1, 4, 0, 1081, 1), "Windows 95 OSR2");
    EXPECT_EQ(name(1, 4, 10, 1998, 1), "Windows 98");
    EXPECT_EQ(name(1, 4, 10, 2182, 1), "Windows 98 SP1");
    EXPECT_EQ(name(1, 4, 10, 2183, 1), "Windows 98 SE");
    EXPECT_EQ(name(1, 4, 90, 3000, 1), "Windows ME");
    EXPECT_EQ(name(2, 3, 51, 1057, 1), "Windows NT 3.51");
    EXPECT_EQ(name(2, 4, 0, 1381, 1), "Windows NT 4");
    EXPECT_EQ(name(2, 5, 0, 2195, 1), "Windows 2000");
    EXPECT_EQ(name(2, 5, 2, 3790, 1), "Windows 2003 Server");
    EXPECT_EQ(name(2, 6, 0, 6002, 1), "Windows Vista");
    EXPECT_EQ(name(3, 7, 0, 1, 1), "Windows CE");
    EXPECT_EQ(name(2, 10, 0, 19045, 9), "Unknown Windows Version 64-bit");
}

TEST(WindowsVersionName, VersionTextUsesTheLowBuildBits) {
    // 7601 is 0x1DB1; the high half of the build number is not shown.
    const windows_version_t v = windows_version_name(true, 2, 6, 1, 0x00051DB1u, 9);
    EXPECT_STREQ(v.version, "6.1.7601");
    const windows_version_t failed = windows_version_name(false, 2, 6, 1, 7601, 9);
    EXPECT_STREQ(failed.name, "Unknown Windows Version");
    EXPECT_STREQ(failed.version, "");
}

TEST(CrashReportFigures, MebibytesRoundUp) {
    const std::uint64_t three_and_a_half = 3584ull * 1048576;
    EXPECT_EQ(mebibytes_rounded_up(three_and_a_half), 3584u);
    EXPECT_EQ(mebibytes_rounded_up(three_and_a_half + 1), 3585u);
    EXPECT_EQ(mebibytes_rounded_up(0), 0u);
}

TEST(CrashReportFigures, CivilTimeAndFatForm) {
    const civil_time_t t = civil_from_seconds(1299215167);  // 2011-03-04 05:06:07 UTC
    EXPECT_EQ(t.year, 2011);
    EXPECT_EQ(t.month, 3);
    EXPECT_EQ(t.day, 4);
    EXPECT_EQ(t.hour, 5);
    EXPECT_EQ(t.minute, 6);
    EXPECT_EQ(t.second, 7);
    char text[32];
    ASSERT_TRUE(fat_time_text(t, text, sizeof text));
    EXPECT_STREQ(text, "3/4/2011 05:06:06");                  // two-second steps
    const civil_time_t leap = civil_from_seconds(951782400);  // 2000-02-29 00:00:00
    EXPECT_EQ(leap.month, 2);
    EXPECT_EQ(leap.day, 29);
    EXPECT_FALSE(fat_time_text(civil_from_seconds(0), text, sizeof text));  // 1970
    EXPECT_STREQ(text, "");
}

TEST(CrashReportPaths, ProgramAndHelperNames) {
    char name[64];
    program_name_of("C:\\Apps\\browser.exe", name, sizeof name);
    EXPECT_STREQ(name, "browser");
    program_name_of("/usr/bin/zorvane", name, sizeof name);
    EXPECT_STREQ(name, "zorvane");
    program_name_of("/opt/x.y/tool.v2.bin", name, sizeof name);
    EXPECT_STREQ(name, "tool.v2");
    EXPECT_STREQ(file_name_of("C:\\Apps\\browser.exe"), "browser.exe");

    char helper[64];
    ASSERT_TRUE(sibling_path("C:\\Apps\\browser.exe", "CrashReport.exe", helper, sizeof helper));
    EXPECT_STREQ(helper, "C:\\Apps\\CrashReport.exe");
    ASSERT_TRUE(sibling_path("/opt/zorvane/bin/zorvane", "CrashReport", helper, sizeof helper));
    EXPECT_STREQ(helper, "/opt/zorvane/bin/CrashReport");
    EXPECT_FALSE(sibling_path("/a/very/long/directory/name/prog", "CrashReport", helper, 10));
}

TEST(CrashReportFormat, ConversionsLikeTheReportTemplates) {
    EXPECT_EQ(format("(0x%08x) at %04x:%08x.", {report_arg(0xC0000005u), report_arg(0x33u),
                                                report_arg(std::uint64_t{0x401000})}),
              u"(0xc0000005) at 0033:00401000.");
    // A 64-bit address is written whole.
    EXPECT_EQ(format("%08x", {report_arg(std::uint64_t{0x7f12345678ab})}), u"7f12345678ab");
    EXPECT_EQ(format("%d%% used, %d, %u",
                     {report_arg(42), report_arg(std::int64_t{-7}), report_arg(4000000000u)}),
              u"42% used, -7, 4000000000");
    EXPECT_EQ(format("%02x %02d:%2d", {report_arg(0x5u), report_arg(7), report_arg(3)}),
              u"05 07: 3");
    EXPECT_EQ(format("%s by %s", {report_arg("/home/j\xC3\xB6rg/zorvane"), report_arg(u"w\u00e9")}),
              u"/home/j\u00f6rg/zorvane by w\u00e9");
    // Missing arguments print as empty or zero; unknown conversions as written.
    EXPECT_EQ(format("%s|%d|%q", {}), u"|0|%q");
}

TEST(CrashReportFormat, OneLineHoldsAtMost1024Characters) {
    const std::string long_text(3000, 'a');
    const std::u16string line = format("%s!", {report_arg(long_text.c_str())});
    EXPECT_EQ(line.size(), 1024u);
}

struct collected_t {
    std::vector<std::size_t> flushes;
    std::string bytes;
};

bool collect(void* context, const unsigned char* bytes, std::size_t size) {
    auto* c = static_cast<collected_t*>(context);
    c->bytes.append(reinterpret_cast<const char*>(bytes), size);
    return true;
}

TEST(CrashReportWriter, WritesLittleEndianAndFlushesPastTheThreshold) {
    static char16_t buffer[report_writer_t::BUFFER_CAPACITY];
    collected_t sink;
    report_writer_t out(buffer, collect, &sink);
    out.text(u"\uFEFF");
    out.line("A%s", u"\u20ac");
    out.flush();
    EXPECT_EQ(sink.bytes, std::string("\xFF\xFE"
                                      "A\x00"
                                      "\xAC\x20",
                                      6));

    sink.bytes.clear();
    const std::string chunk(1000, 'x');
    std::size_t written = 0;
    std::size_t before_last = 0;
    while (written <= report_writer_t::FLUSH_THRESHOLD) {
        out.line("%s", chunk.c_str());
        written += 1000;
    }
    // Nothing reached the file yet: the buffer holds just over the threshold.
    EXPECT_TRUE(sink.bytes.empty());
    before_last = written;
    out.line("%s", "y");
    EXPECT_EQ(sink.bytes.size(), before_last * 2);
    out.flush();
    EXPECT_EQ(sink.bytes.size(), (before_last + 1) * 2);
    EXPECT_TRUE(out.ok());
}

bool refuse(void*, const unsigned char*, std::size_t) { return false; }

TEST(CrashReportWriter, RemembersARefusedWrite) {
    static char16_t buffer[report_writer_t::BUFFER_CAPACITY];
    report_writer_t out(buffer, refuse, nullptr);
    out.line("x");
    out.flush();
    EXPECT_FALSE(out.ok());
}

}  // namespace
}  // namespace Core_Common
