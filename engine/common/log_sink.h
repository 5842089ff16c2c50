// Public engine surface: the interface of a log sink.
//
// The log dispatcher (common/log_dispatcher.h) hands every record that
// passes its checks to each registered sink: first on_record with the
// record's parts, then on_line with the finished text line. Sinks are called
// on the thread that wrote the record, possibly from several threads at
// once; a sink serialises its own work. A sink must not write log records
// itself.
#pragma once

#include <cstdint>
#include <string>

namespace Core_Common {

class InterfaceLogCallback {
public:
    virtual ~InterfaceLogCallback() = default;

    // The finished line: level digit, time, tag, scope, message, "\r\n".
    // Base: does nothing.
    virtual void on_line(std::int32_t /*context*/, const std::string& /*line*/) {}

    // The record's parts; `tag` is the category's 14-character tag, `origin`
    // and `origin_number` are the writer's values passed through unchanged.
    // Base: does nothing.
    virtual void on_record(std::int32_t /*context*/, std::int32_t /*level*/,
                           std::int32_t /*category*/, const char* /*tag*/, const char* /*origin*/,
                           std::int32_t /*origin_number*/, const std::string& /*message*/) {}
};

}  // namespace Core_Common
