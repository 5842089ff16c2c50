#include "common/log_dispatcher.h"

#include <algorithm>
#include <cstdio>
#include <memory>
#include <mutex>
#include <shared_mutex>

#include "platform/local_time.h"
#include "platform/strings.h"

namespace Core_Common {
namespace {

std::atomic<bool> g_log_enabled{false};

// Guards the dispatcher's existence and its sink list: log_write holds it
// shared while it calls the sinks, create/destroy/add/remove exclusively.
std::shared_mutex g_dispatcher_lock;
std::unique_ptr<LogDispatcher> g_dispatcher;
// Mirrors g_dispatcher != nullptr so that a record can be dropped before
// any lock is taken.
std::atomic<bool> g_dispatcher_present{false};

thread_local std::vector<std::string> t_scope_stack;

void append_scope_text(std::string& line) {
    const std::vector<std::string>& stack = t_scope_stack;
    if (stack.empty()) {
        return;
    }
    std::string joined;
    const std::string* last = nullptr;
    static const std::string empty;
    for (const std::string& entry : stack) {
        if (entry == (last != nullptr ? *last : empty)) {
            continue;
        }
        if (last != nullptr) {
            joined += '.';
        }
        joined += entry;
        last = &entry;
    }
    if (last != nullptr) {
        line += '[';
        line += joined;
        line += ']';
    }
}

void append_two_digits(std::string& out, int value) {
    out += static_cast<char>('0' + (value / 10) % 10);
    out += static_cast<char>('0' + value % 10);
}

void append_time_of_day(std::string& out) {
    Core_Platform::time_of_day_t now;
    if (!Core_Platform::local_time_of_day(now)) {
        now = Core_Platform::time_of_day_t{};
    }
    append_two_digits(out, now.hour);
    out += ':';
    append_two_digits(out, now.minute);
    out += ':';
    append_two_digits(out, now.second);
    out += '.';
    char micro[8];
    std::snprintf(micro, sizeof micro, "%06d", static_cast<int>(now.microsecond % 1000000));
    out += micro;
}

}  // namespace

bool log_enabled() { return g_log_enabled.load(std::memory_order_relaxed); }

void set_log_enabled(bool on) { g_log_enabled.store(on, std::memory_order_relaxed); }

void log_write(std::int32_t context, log_level_t level, log_category_t category, const char* origin,
               std::int32_t origin_number, std::string message) {
    if (!g_log_enabled.load(std::memory_order_relaxed)) {
        return;
    }
    if (!is_valid_log_level(level) || !is_valid_log_category(category)) {
        return;
    }
    if (log_level_row(level).enabled == 0 || log_category_row(category).enabled == 0) {
        return;
    }
    if (!g_dispatcher_present.load(std::memory_order_acquire)) {
        return;
    }
    std::shared_lock<std::shared_mutex> hold(g_dispatcher_lock);
    if (!g_dispatcher) {
        return;
    }
    const std::string line = LogDispatcher::format_line(level, category, message);
    const char* tag = log_category_row(category).tag;
    const char* shown_origin = origin != nullptr ? origin : "";
    for (InterfaceLogCallback* sink : g_dispatcher->m_sinks) {
        sink->on_record(context, static_cast<std::int32_t>(level),
                        static_cast<std::int32_t>(category), tag, shown_origin, origin_number,
                        message);
        sink->on_line(context, line);
    }
}

void write_wide(std::ostream& out, const std::u16string& text) {
    if (text.empty()) {
        return;
    }
    const std::string ansi = Core_Platform::wide_to_ansi(text);
    out.write(ansi.data(), static_cast<std::streamsize>(ansi.size()));
}

void write_wide(std::ostream& out, const char16_t* text) {
    if (text == nullptr) {
        return;
    }
    write_wide(out, std::u16string(text));
}

log_scope::log_scope(std::string name) { t_scope_stack.push_back(std::move(name)); }

log_scope::~log_scope() {
    if (!t_scope_stack.empty()) {
        t_scope_stack.pop_back();
    }
}

void LogDispatcher::create() {
    std::unique_ptr<LogDispatcher> fresh(new LogDispatcher);
    std::unique_ptr<LogDispatcher> old;
    {
        std::unique_lock<std::shared_mutex> hold(g_dispatcher_lock);
        old = std::move(g_dispatcher);
        g_dispatcher = std::move(fresh);
        g_dispatcher_present.store(true, std::memory_order_release);
    }
}

void LogDispatcher::destroy() {
    std::unique_ptr<LogDispatcher> old;
    {
        std::unique_lock<std::shared_mutex> hold(g_dispatcher_lock);
        old = std::move(g_dispatcher);
        g_dispatcher_present.store(false, std::memory_order_release);
    }
}

bool LogDispatcher::exists() {
    std::shared_lock<std::shared_mutex> hold(g_dispatcher_lock);
    return g_dispatcher != nullptr;
}

bool LogDispatcher::add_sink(InterfaceLogCallback* sink) {
    if (sink == nullptr) {
        return false;
    }
    std::unique_lock<std::shared_mutex> hold(g_dispatcher_lock);
    if (!g_dispatcher) {
        return false;
    }
    g_dispatcher->m_sinks.push_back(sink);
    return true;
}

bool LogDispatcher::remove_sink(InterfaceLogCallback* sink) {
    std::unique_lock<std::shared_mutex> hold(g_dispatcher_lock);
    if (!g_dispatcher) {
        return false;
    }
    auto& sinks = g_dispatcher->m_sinks;
    auto end = std::remove(sinks.begin(), sinks.end(), sink);
    const bool found = end != sinks.end();
    sinks.erase(end, sinks.end());
    return found;
}

std::vector<InterfaceLogCallback*> LogDispatcher::sinks() {
    std::shared_lock<std::shared_mutex> hold(g_dispatcher_lock);
    return g_dispatcher ? g_dispatcher->m_sinks : std::vector<InterfaceLogCallback*>();
}

std::string LogDispatcher::format_line(log_level_t level, log_category_t category,
                                       const std::string& message) {
    if (!is_valid_log_level(level) || !is_valid_log_category(category)) {
        return std::string();
    }
    std::string line;
    line.reserve(1 + 15 + log_category_tag_length + message.size() + 2);
    line += static_cast<char>('0' + static_cast<int>(level));
    append_time_of_day(line);
    line += log_category_row(category).tag;
    append_scope_text(line);
    line += message;
    line += "\r\n";
    return line;
}

}  // namespace Core_Common
