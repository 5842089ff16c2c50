#include "common/crash_report_text.h"

#include "common/crash_text_builder.h"
#include "common/crash_utf8.h"

namespace Core_Common {

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
