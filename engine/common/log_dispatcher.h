// Public engine surface: writing log records, the master switch, and the
// dispatcher that turns records into lines for the sinks.
//
// Logging is off when the process starts and nothing in the engine turns it
// on; a host offers that to the person (for diagnosis) through
// set_log_enabled. While it is off, log_write returns after one test.
//
// The dispatcher exists from the log module's initialize to its
// uninitialize (common/log_module.h). log_write may be called from any
// thread at any time; before or after the dispatcher's life it does nothing.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <ostream>
#include <string>
#include <vector>

#include "common/log_sink.h"
#include "common/log_tags.h"

namespace Core_Common {

// The master switch. Off at process start.
bool log_enabled();
// Turns the master switch on or off; safe from any thread.
void set_log_enabled(bool on);

// Writes one record: when the switch is on, `level` and `category` are valid
// and their table rows enabled, and the dispatcher exists, builds the line
// (see LogDispatcher) and hands record and line to every sink in the order
// they were added. Otherwise does nothing, without formatting or
// allocating. `context`, `origin` (may be null) and `origin_number` are
// passed to the sinks unchanged.
void log_write(std::int32_t context, log_level_t level, log_category_t category, const char* origin,
               std::int32_t origin_number, std::string message);

// Appends `text` converted to the system's ANSI code page to `out`
// (unmappable characters become the code page's default character). An
// empty text, a null pointer, or a text that cannot be converted appends
// nothing.
void write_wide(std::ostream& out, const std::u16string& text);
void write_wide(std::ostream& out, const char16_t* text);

// Names a scope of the calling thread for as long as the object lives.
// While scopes are open, every line the thread writes carries them after
// the tag: "[" + the names joined with "." + "]", where a name equal to the
// name written just before it is left out (so are empty names before the
// first written one). Objects must be destroyed in reverse order of
// creation on the thread that created them.
class log_scope {
public:
    explicit log_scope(std::string name);
    ~log_scope();
    log_scope(const log_scope&) = delete;
    log_scope& operator=(const log_scope&) = delete;
};

// The process-wide dispatcher. Its sink list does not own the sinks.
//
// A line is: the digit '0' + level; the local time of day "HH:MM:SS.ffffff"
// (00:00:00.000000 when the clock cannot be read); the category's tag; the
// thread's scope text (see log_scope); the message; "\r\n".
//
// Thread rule: create, destroy, add_sink and remove_sink are meant for the
// main thread during start-up and shutdown; they are nevertheless safe
// against concurrent log_write calls, which never see a destroyed dispatcher
// or a half-changed sink list.
class LogDispatcher {
public:
    // Destroys any existing dispatcher and creates one with no sinks.
    static void create();
    // Destroys the dispatcher (not its sinks). Does nothing if none exists.
    static void destroy();
    static bool exists();

    // Appends `sink` to the sink list. Returns false (and adds nothing) when
    // no dispatcher exists or `sink` is null.
    static bool add_sink(InterfaceLogCallback* sink);
    // Removes every occurrence of `sink`. Returns false when it was absent
    // or no dispatcher exists.
    static bool remove_sink(InterfaceLogCallback* sink);
    // A copy of the sink list; empty when no dispatcher exists.
    static std::vector<InterfaceLogCallback*> sinks();

    // Builds the line of a record for the calling thread (log_write uses it;
    // exposed for benchmarks). Empty when `level` or `category` is invalid.
    static std::string format_line(log_level_t level, log_category_t category,
                                   const std::string& message);

private:
    LogDispatcher() = default;
    std::vector<InterfaceLogCallback*> m_sinks;

    friend void log_write(std::int32_t, log_level_t, log_category_t, const char*, std::int32_t,
                          std::string);
};

}  // namespace Core_Common
