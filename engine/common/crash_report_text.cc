#include "common/crash_report_text.h"

#include <signal.h>

namespace Core_Common {
namespace {

struct code_name_t {
    std::uint32_t code;
    const char* name;
};

constexpr code_name_t kExceptionNames[] = {
    {0x40010005u, "a Control-C"},
    {0x40010008u, "a Control-Break"},
    {0x80000002u, "a Datatype Misalignment"},
    {0x80000003u, "a Breakpoint"},
    {0xC0000005u, "an Access Violation"},
    {0xC0000006u, "an In Page Error"},
    {0xC0000017u, "a No Memory"},
    {0xC000001Du, "an Illegal Instruction"},
    {0xC0000025u, "a Noncontinuable Exception"},
    {0xC0000026u, "an Invalid Disposition"},
    {0xC000008Cu, "a Array Bounds Exceeded"},
    {0xC000008Du, "a Float Denormal Operand"},
    {0xC000008Eu, "a Float Divide by Zero"},
    {0xC000008Fu, "a Float Inexact Result"},
    {0xC0000090u, "a Float Invalid Operation"},
    {0xC0000091u, "a Float Overflow"},
    {0xC0000092u, "a Float Stack Check"},
    {0xC0000093u, "a Float Underflow"},
    {0xC0000094u, "an Integer Divide by Zero"},
    {0xC0000095u, "an Integer Overflow"},
    {0xC0000096u, "a Privileged Instruction"},
    {0xC00000FDu, "a Stack Overflow"},
    {0xC0000142u, "a DLL Initialization Failed"},
    {0xE06D7363u, "a Microsoft C++ Exception"},
};

// Bounded text building for the fixed-size results.
struct text_builder_t {
    char* out;
    std::size_t capacity;
    std::size_t used = 0;

    void put(char c) {
        if (used + 1 < capacity) out[used++] = c;
        out[used] = '\0';
    }
    void put(const char* text) {
        while (*text != '\0') put(*text++);
    }
    void put_unsigned(std::uint64_t v, int width = 0) {
        char digits[24];
        int n = 0;
        do {
            digits[n++] = static_cast<char>('0' + v % 10);
            v /= 10;
        } while (v != 0);
        for (int i = n; i < width; ++i) put('0');
        while (n > 0) put(digits[--n]);
    }
};

std::size_t decode_utf8(const char* text, char16_t* out, std::size_t room) {
    const auto* p = reinterpret_cast<const unsigned char*>(text);
    std::size_t n = 0;
    while (*p != 0 && n < room) {
        char32_t cp = 0xFFFD;
        int extra = 0;
        if (*p < 0x80) {
            cp = *p;
        } else if ((*p & 0xE0) == 0xC0) {
            cp = *p & 0x1F;
            extra = 1;
        } else if ((*p & 0xF0) == 0xE0) {
            cp = *p & 0x0F;
            extra = 2;
        } else if ((*p & 0xF8) == 0xF0) {
            cp = *p & 0x07;
            extra = 3;
        } else {
            extra = -1;
        }
        ++p;
        if (extra < 0) {
            cp = 0xFFFD;
        } else {
            for (int i = 0; i < extra; ++i) {
                if ((*p & 0xC0) != 0x80) {
                    cp = 0xFFFD;
                    break;
                }
                cp = (cp << 6) | (*p & 0x3F);
                ++p;
            }
        }
        if (cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) cp = 0xFFFD;
        if (cp >= 0x10000) {
            if (n + 2 > room) break;
            cp -= 0x10000;
            out[n++] = static_cast<char16_t>(0xD800 + (cp >> 10));
            out[n++] = static_cast<char16_t>(0xDC00 + (cp & 0x3FF));
        } else {
            out[n++] = static_cast<char16_t>(cp);
        }
    }
    return n;
}

}  // namespace

const char* exception_name(std::uint32_t code) {
    for (const code_name_t& e : kExceptionNames) {
        if (e.code == code) return e.name;
    }
    return "an Unknown exception type";
}

std::uint32_t exception_code_for_signal(int signal, int signal_code) {
    switch (signal) {
        case SIGSEGV:
            return CRASH_CODE_ACCESS_VIOLATION;
        case SIGBUS:
            return signal_code == BUS_ADRALN ? CRASH_CODE_DATATYPE_MISALIGNMENT
                                             : CRASH_CODE_IN_PAGE_ERROR;
        case SIGFPE:
            switch (signal_code) {
                case FPE_INTDIV:
                    return CRASH_CODE_INTEGER_DIVIDE_BY_ZERO;
                case FPE_INTOVF:
                    return CRASH_CODE_INTEGER_OVERFLOW;
                case FPE_FLTDIV:
                    return CRASH_CODE_FLOAT_DIVIDE_BY_ZERO;
                case FPE_FLTOVF:
                    return CRASH_CODE_FLOAT_OVERFLOW;
                case FPE_FLTUND:
                    return CRASH_CODE_FLOAT_UNDERFLOW;
                case FPE_FLTRES:
                    return CRASH_CODE_FLOAT_INEXACT_RESULT;
                case FPE_FLTSUB:
                    return CRASH_CODE_ARRAY_BOUNDS_EXCEEDED;
                default:
                    return CRASH_CODE_FLOAT_INVALID_OPERATION;
            }
        case SIGILL:
            return signal_code == ILL_PRVOPC || signal_code == ILL_PRVREG
                       ? CRASH_CODE_PRIVILEGED_INSTRUCTION
                       : CRASH_CODE_ILLEGAL_INSTRUCTION;
        case SIGABRT:
            return CRASH_CODE_FATAL_APP_EXIT;
        default:
            return 0;
    }
}

windows_version_t windows_version_name(bool version_ok, std::uint32_t platform, std::uint32_t major,
                                       std::uint32_t minor, std::uint32_t build,
                                       std::uint32_t architecture) {
    windows_version_t result{};
    text_builder_t name{result.name, sizeof result.name};
    text_builder_t version{result.version, sizeof result.version};
    if (!version_ok) {
        name.put("Unknown Windows Version");
        return result;
    }
    const std::uint32_t build16 = build & 0xFFFF;
    version.put_unsigned(major);
    version.put('.');
    version.put_unsigned(minor);
    version.put('.');
    version.put_unsigned(build16);

    const char* text = "Unknown Windows Version";
    if (platform == 1 && major == 4) {
        if (minor < 10) {
            if (build16 == 950)
                text = "Windows 95";
            else if (build16 >= 951 && build16 <= 1080)
                text = "Windows 95 SP1";
            else if (build16 > 1080)
                text = "Windows 95 OSR2";
        } else if (minor == 10) {
            if (build16 == 1998)
                text = "Windows 98";
            else if (build16 >= 1999 && build16 <= 2182)
                text = "Windows 98 SP1";
            else if (build16 > 2182)
                text = "Windows 98 SE";
        } else if (minor == 90) {
            text = "Windows ME";
        }
    } else if (platform == 2) {
        if (major == 3 && minor == 51)
            text = "Windows NT 3.51";
        else if (major == 4 && minor == 0)
            text = "Windows NT 4";
        else if (major == 5 && minor == 0)
            text = "Windows 2000";
        else if (major == 5 && minor == 1)
            text = "Windows XP";
        else if (major == 5 && minor == 2)
            text = "Windows 2003 Server";
        else if (major == 6 && minor == 0)
            text = "Windows Vista";
        else if (major == 6 && minor == 1)
            text = "Windows 7";
    } else if (platform == 3) {
        text = "Windows CE";
    }
    name.put(text);
    if (architecture == 9)
        name.put(" 64-bit");
    else if (architecture == 0)
        name.put(" 32-bit");
    return result;
}

civil_time_t civil_from_seconds(std::int64_t seconds) {
    std::int64_t days = seconds / 86400;
    std::int64_t rest = seconds % 86400;
    if (rest < 0) {
        rest += 86400;
        --days;
    }
    // Days to a proleptic Gregorian date (the era-based method).
    days += 719468;
    const std::int64_t era = (days >= 0 ? days : days - 146096) / 146097;
    const std::int64_t doe = days - era * 146097;
    const std::int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const std::int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const std::int64_t mp = (5 * doy + 2) / 153;
    const std::int64_t day = doy - (153 * mp + 2) / 5 + 1;
    const std::int64_t month = mp < 10 ? mp + 3 : mp - 9;
    const std::int64_t year = yoe + era * 400 + (month <= 2 ? 1 : 0);
    civil_time_t t;
    t.year = static_cast<std::int32_t>(year);
    t.month = static_cast<std::int32_t>(month);
    t.day = static_cast<std::int32_t>(day);
    t.hour = static_cast<std::int32_t>(rest / 3600);
    t.minute = static_cast<std::int32_t>(rest % 3600 / 60);
    t.second = static_cast<std::int32_t>(rest % 60);
    return t;
}

bool fat_time_text(const civil_time_t& time, char* out, std::size_t capacity) {
    if (capacity == 0) return false;
    out[0] = '\0';
    if (time.year < 1980 || time.year > 2107) return false;
    text_builder_t b{out, capacity};
    b.put_unsigned(static_cast<std::uint64_t>(time.month));
    b.put('/');
    b.put_unsigned(static_cast<std::uint64_t>(time.day));
    b.put('/');
    b.put_unsigned(static_cast<std::uint64_t>(time.year));
    b.put(' ');
    b.put_unsigned(static_cast<std::uint64_t>(time.hour), 2);
    b.put(':');
    b.put_unsigned(static_cast<std::uint64_t>(time.minute), 2);
    b.put(':');
    b.put_unsigned(static_cast<std::uint64_t>(time.second & ~1), 2);
    return true;
}

const char* file_name_of(const char* path) {
    const char* name = path;
    for (const char* p = path; *p != '\0'; ++p) {
        if (*p == '/' || *p == '\\') name = p + 1;
    }
    return name;
}

void program_name_of(const char* path, char* out, std::size_t capacity) {
    if (capacity == 0) return;
    const char* name = file_name_of(path);
    const char* end = nullptr;
    for (const char* p = name; *p != '\0'; ++p) {
        if (*p == '.') end = p;
    }
    std::size_t n = 0;
    for (const char* p = name; *p != '\0' && p != end && n + 1 < capacity; ++p) out[n++] = *p;
    out[n] = '\0';
}

bool sibling_path(const char* path, const char* helper_name, char* out, std::size_t capacity) {
    const std::size_t dir = static_cast<std::size_t>(file_name_of(path) - path);
    std::size_t helper = 0;
    while (helper_name[helper] != '\0') ++helper;
    if (capacity == 0 || dir + helper + 1 > capacity) return false;
    for (std::size_t i = 0; i < dir; ++i) out[i] = path[i];
    for (std::size_t i = 0; i < helper; ++i) out[dir + i] = helper_name[i];
    out[dir + helper] = '\0';
    return true;
}

std::size_t format_report_line(char16_t* out, std::size_t capacity, const char* format,
                               const report_arg_t* args, std::size_t count) {
    const std::size_t limit =
        capacity < report_writer_t::LINE_LIMIT ? capacity : report_writer_t::LINE_LIMIT;
    std::size_t n = 0;
    std::size_t next = 0;
    auto put = [&](char16_t c) {
        if (n < limit) out[n++] = c;
    };
    for (const char* f = format; *f != '\0'; ++f) {
        if (*f != '%') {
            put(static_cast<char16_t>(static_cast<unsigned char>(*f)));
            continue;
        }
        ++f;
        if (*f == '%') {
            put(u'%');
            continue;
        }
        bool zero = false;
        int width = 0;
        if (*f == '0') {
            zero = true;
            ++f;
        }
        while (*f >= '0' && *f <= '9') width = width * 10 + (*f++ - '0');
        const char conversion = *f;
        if (conversion == '\0') break;
        const report_arg_t* arg = next < count ? &args[next] : nullptr;
        ++next;
        char16_t digits[24];
        int nd = 0;
        bool negative = false;
        switch (conversion) {
            case 's':
                if (arg == nullptr) break;
                if (arg->kind == report_arg_t::TEXT8) {
                    n += decode_utf8(arg->text8, out + n, limit - n);
                } else if (arg->kind == report_arg_t::TEXT16) {
                    for (const char16_t* t = arg->text16; *t != 0; ++t) put(*t);
                }
                continue;
            case 'd':
            case 'u': {
                std::uint64_t v = 0;
                if (arg != nullptr) {
                    if (arg->kind == report_arg_t::SIGNED) {
                        negative = conversion == 'd' && arg->signed_value < 0;
                        v = negative ? 0 - static_cast<std::uint64_t>(arg->signed_value)
                                     : static_cast<std::uint64_t>(arg->signed_value);
                    } else {
                        v = arg->unsigned_value;
                    }
                }
                do {
                    digits[nd++] = static_cast<char16_t>(u'0' + v % 10);
                    v /= 10;
                } while (v != 0);
                break;
            }
            case 'x': {
                std::uint64_t v = 0;
                if (arg != nullptr) {
                    v = arg->kind == report_arg_t::SIGNED
                            ? static_cast<std::uint64_t>(arg->signed_value)
                            : arg->unsigned_value;
                }
                do {
                    digits[nd++] = u"0123456789abcdef"[v & 0xF];
                    v >>= 4;
                } while (v != 0);
                break;
            }
            default:
                put(u'%');
                put(static_cast<char16_t>(conversion));
                continue;
        }
        const int length = nd + (negative ? 1 : 0);
        if (!zero) {
            for (int i = length; i < width; ++i) put(u' ');
        }
        if (negative) put(u'-');
        if (zero) {
            for (int i = length; i < width; ++i) put(u'0');
        }
        while (nd > 0) put(digits[--nd]);
    }
    return n;
}

report_writer_t::report_writer_t(char16_t* buffer, report_sink_fn sink, void* context)
    : m_buffer(buffer), m_sink(sink), m_context(context) {}

void report_writer_t::make_room() {
    if (m_count > FLUSH_THRESHOLD) flush();
}

void report_writer_t::append_formatted(const char* format, const report_arg_t* args,
                                       std::size_t count) {
    make_room();
    m_count += format_report_line(m_buffer + m_count, LINE_LIMIT, format, args, count);
}

void report_writer_t::text(const char16_t* text) {
    make_room();
    std::size_t n = 0;
    while (text[n] != 0 && n < LINE_LIMIT) {
        m_buffer[m_count + n] = text[n];
        ++n;
    }
    m_count += n;
}

void report_writer_t::flush() {
    unsigned char bytes[4096];
    std::size_t used = 0;
    for (std::size_t i = 0; i < m_count; ++i) {
        bytes[used++] = static_cast<unsigned char>(m_buffer[i] & 0xFF);
        bytes[used++] = static_cast<unsigned char>(m_buffer[i] >> 8);
        if (used == sizeof bytes) {
            if (!m_sink(m_context, bytes, used)) m_ok = false;
            used = 0;
        }
    }
    if (used > 0 && !m_sink(m_context, bytes, used)) m_ok = false;
    m_count = 0;
}

}  // namespace Core_Common
