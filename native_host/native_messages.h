// Internal to zorvane-native-host: the browsers' native-messaging framing.
//
// Each message, in both directions, is a 32-bit length in the machine's own
// byte order followed by that many bytes of UTF-8 JSON. The browsers refuse a
// message to the extension over 1,048,576 bytes; the host refuses a message
// from the extension over kMaxIncoming before it allocates anything for it.
//
// Everything here is pure and single-threaded.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace Zorvane_Native {

// The largest message the browsers take from a native program.
inline constexpr std::size_t kMaxOutgoing = 1048576;
// The largest message the host takes from the extension.
inline constexpr std::size_t kMaxIncoming = 1048576;
// What the host aims every message at, in both directions, so that Firefox
// (which slows down badly on large messages) stays fast.
inline constexpr std::size_t kMessageBudget = 512 * 1024;
// The deepest nesting of arrays and objects a message may have.
inline constexpr int kMaxJsonDepth = 16;

// One thing the reader found in the byte stream.
struct frame_event_t {
    enum kind_enum { MESSAGE, ERROR } kind = MESSAGE;
    std::string text;  // the message's bytes, or a one-line description of the fault
};

// Splits a byte stream into messages. A message over kMaxIncoming, or of
// length 0, is reported as an ERROR and its bytes are skipped as they
// arrive, so the stream stays in step; the reader never holds more than
// kMaxIncoming bytes of one message.
class native_message_reader {
public:
    // Takes the next `bytes` of the stream and appends what they complete
    // to `out`.
    void feed(std::string_view bytes, std::vector<frame_event_t>& out);

    // True when the stream stopped in the middle of a message (its length
    // or its bytes); the host then ends without answering it.
    bool in_message() const { return m_header_have != 0 || m_want != 0 || m_skip != 0; }

private:
    unsigned char m_header[4] = {};
    std::size_t m_header_have = 0;
    std::size_t m_want = 0;    // bytes of the current message still to come
    std::uint64_t m_skip = 0;  // bytes of a refused message still to skip
    std::string m_body;
};

// The frame of `json`: its length in the machine's byte order, then the
// bytes. The caller keeps messages within kMaxOutgoing.
std::string encode_frame(std::string_view json);

// The nesting depth of the arrays and objects of `json` (strings skipped,
// escapes honoured), stopping early once it passes `limit`. Malformed text
// gives some depth; the JSON parser rejects it afterwards.
int json_depth(std::string_view json, int limit);

}  // namespace Zorvane_Native
