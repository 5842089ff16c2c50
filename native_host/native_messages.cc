#include "native_messages.h"

#include <cstring>

namespace Zorvane_Native {

void native_message_reader::feed(std::string_view bytes, std::vector<frame_event_t>& out) {
    while (!bytes.empty()) {
        if (m_skip != 0) {
            const std::size_t n =
                static_cast<std::size_t>(std::min<std::uint64_t>(m_skip, bytes.size()));
            m_skip -= n;
            bytes.remove_prefix(n);
            continue;
        }
        if (m_want == 0) {
            const std::size_t n = std::min(sizeof m_header - m_header_have, bytes.size());
            std::memcpy(m_header + m_header_have, bytes.data(), n);
            m_header_have += n;
            bytes.remove_prefix(n);
            if (m_header_have < sizeof m_header) continue;
            m_header_have = 0;
            std::uint32_t length = 0;
            std::memcpy(&length, m_header, sizeof length);
            if (length == 0) {
                out.push_back({frame_event_t::ERROR, "an empty message (length 0)"});
                continue;
            }
            if (length > kMaxIncoming) {
                out.push_back({frame_event_t::ERROR, "a message of " + std::to_string(length) +
                                                         " bytes, over the limit of " +
                                                         std::to_string(kMaxIncoming)});
                m_skip = length;
                continue;
            }
            m_want = length;
            m_body.clear();
            m_body.reserve(length);
            continue;
        }
        const std::size_t n = std::min(m_want, bytes.size());
        m_body.append(bytes.data(), n);
        m_want -= n;
        bytes.remove_prefix(n);
        if (m_want == 0) {
            out.push_back({frame_event_t::MESSAGE, std::move(m_body)});
            m_body = std::string();
        }
    }
}

std::string encode_frame(std::string_view json) {
    const auto length = static_cast<std::uint32_t>(json.size());
    std::string out(sizeof length, '\0');
    std::memcpy(out.data(), &length, sizeof length);
    out.append(json);
    return out;
}

int json_depth(std::string_view json, int limit) {
    int depth = 0;
    int deepest = 0;
    bool in_string = false;
    for (std::size_t i = 0; i < json.size(); ++i) {
        const char c = json[i];
        if (in_string) {
            if (c == '\\') {
                ++i;
            } else if (c == '"') {
                in_string = false;
            }
            continue;
        }
        if (c == '"') {
            in_string = true;
        } else if (c == '[' || c == '{') {
            if (++depth > deepest) deepest = depth;
            if (deepest > limit) return deepest;
        } else if (c == ']' || c == '}') {
            --depth;
        }
    }
    return deepest;
}

}  // namespace Zorvane_Native
