// Internal to common/: the text of a crash report, as pure functions that
// allocate nothing (they run inside a signal handler).
//
// report_writer_t accumulates UTF-16 text in a caller-provided buffer and
// hands it to a sink as UTF-16 little-endian bytes whenever it holds more
// than FLUSH_THRESHOLD code units before the next line, and at flush(). Its
// lines are formatted the way the report's templates are written: %s (a
// UTF-8 or UTF-16 text), %d (signed), %u (unsigned), %x (lower-case hex),
// each with an optional 0 flag and width, and %%; one formatted line holds
// at most LINE_LIMIT code units (the rest is cut). A hex value wider than
// the width is written whole (64-bit addresses are not cut to 8 digits).
#pragma once

#include <cstddef>
#include <cstdint>

namespace Core_Common {

// The operating-system name and version text from the version figures of
// the report format (platform 1: 9x family, 2: NT family, 3: CE;
// architecture 9: x64, 0: x86). With `version_ok` false the name is
// "Unknown Windows Version" and the version text empty.
struct windows_version_t {
    char name[64];
    char version[48];
};
windows_version_t windows_version_name(bool version_ok, std::uint32_t platform, std::uint32_t major,
                                       std::uint32_t minor, std::uint32_t build,
                                       std::uint32_t architecture);

// Bytes in mebibytes, rounded up.
constexpr std::uint64_t mebibytes_rounded_up(std::uint64_t bytes) {
    return bytes / 1048576 + (bytes % 1048576 != 0 ? 1 : 0);
}

// One argument of a formatted line.
struct report_arg_t {
    enum kind_enum { TEXT8, TEXT16, SIGNED, UNSIGNED } kind;
    const char* text8;
    const char16_t* text16;
    std::int64_t signed_value;
    std::uint64_t unsigned_value;
};
inline report_arg_t report_arg(const char* text) {
    return {report_arg_t::TEXT8, text != nullptr ? text : "", nullptr, 0, 0};
}
inline report_arg_t report_arg(const char16_t* text) {
    return {report_arg_t::TEXT16, nullptr, text != nullptr ? text : u"", 0, 0};
}
inline report_arg_t report_arg(std::int64_t v) {
    return {report_arg_t::SIGNED, nullptr, nullptr, v, 0};
}
inline report_arg_t report_arg(std::int32_t v) { return report_arg(static_cast<std::int64_t>(v)); }
inline report_arg_t report_arg(std::uint64_t v) {
    return {report_arg_t::UNSIGNED, nullptr, nullptr, 0, v};
}
inline report_arg_t report_arg(std::uint32_t v) {
    return report_arg(static_cast<std::uint64_t>(v));
}

// Formats one line into `out` (capacity in code units); returns the number
// written, at most LINE_LIMIT and at most capacity.
std::size_t format_report_line(char16_t* out, std::size_t capacity, const char* format,
                               const report_arg_t* args, std::size_t count);

// Where a writer's bytes go. Returns false when they could not be written.
using report_sink_fn = bool (*)(void* context, const unsigned char* bytes, std::size_t size);

class report_writer_t {
public:
    static constexpr std::size_t FLUSH_THRESHOLD = 130048;
    static constexpr std::size_t LINE_LIMIT = 1024;
    // The buffer capacity a writer needs.
    static constexpr std::size_t BUFFER_CAPACITY = FLUSH_THRESHOLD + LINE_LIMIT + 1;

    // `buffer` holds BUFFER_CAPACITY code units and outlives the writer.
    report_writer_t(char16_t* buffer, report_sink_fn sink, void* context);

    template <class... Args>
    void line(const char* format, Args... args) {
        const report_arg_t list[] = {report_arg(args)..., report_arg("")};
        append_formatted(format, list, sizeof...(Args));
    }
    // Appends a text as it is (no formatting), cut at LINE_LIMIT.
    void text(const char16_t* text);
    // Hands everything buffered to the sink and empties the buffer.
    void flush();
    // False once the sink refused bytes.
    bool ok() const { return m_ok; }

private:
    void append_formatted(const char* format, const report_arg_t* args, std::size_t count);
    void make_room();

    char16_t* m_buffer;
    std::size_t m_count = 0;
    report_sink_fn m_sink;
    void* m_context;
    bool m_ok = true;
};

}  // namespace Core_Common
