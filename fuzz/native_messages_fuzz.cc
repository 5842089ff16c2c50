// The native host's message reader: the byte stream a browser's extension
// sends, cut into pieces at the places the input's first bytes choose, and
// every message it yields through the depth check and the JSON parser the
// host uses.
#include <cstddef>
#include <cstdint>
#include <nlohmann/json.hpp>
#include <string_view>
#include <vector>

#include "native_messages.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 1) return 0;
    const std::size_t piece = 1 + data[0] % 64;
    std::string_view stream(reinterpret_cast<const char*>(data) + 1, size - 1);
    Zorvane_Native::native_message_reader reader;
    std::vector<Zorvane_Native::frame_event_t> events;
    for (std::size_t at = 0; at < stream.size(); at += piece)
        reader.feed(stream.substr(at, piece), events);
    for (const auto& e : events) {
        if (e.kind != Zorvane_Native::frame_event_t::MESSAGE) continue;
        if (e.text.empty() || e.text.size() > Zorvane_Native::kMaxIncoming) __builtin_trap();
        if (Zorvane_Native::json_depth(e.text, Zorvane_Native::kMaxJsonDepth) >
            Zorvane_Native::kMaxJsonDepth)
            continue;
        const auto j = nlohmann::json::parse(e.text, nullptr, false);
        if (!j.is_discarded())
            (void)j.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
    }
    return 0;
}
