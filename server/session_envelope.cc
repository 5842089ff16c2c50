#include "session_envelope.h"

#include <algorithm>

#include "common/big_endian.h"

namespace Core_Server {

using Core_Common::get_be;
using Core_Common::kSessionPreamble;
using Core_Common::kSessionVersion;
using Core_Common::put_be;

envelope_parse_enum parse_request_header(std::string_view data, request_envelope_t& out) {
    const std::size_t preamble_seen = std::min(data.size(), kSessionPreamble.size());
    if (data.substr(0, preamble_seen) != kSessionPreamble.substr(0, preamble_seen)) {
        return envelope_parse_enum::INVALID;
    }
    if (data.size() >= 20 && get_be(data, 18, 2) != kSessionVersion) {
        return envelope_parse_enum::INVALID;
    }
    if (data.size() < REQUEST_FIXED_SIZE) return envelope_parse_enum::NEED_MORE;
    const auto header_length = get_be(data, 16, 2);
    const auto text_length = get_be(data, 36, 2);
    if (header_length != 22 + text_length) return envelope_parse_enum::INVALID;
    if (data.size() < REQUEST_FIXED_SIZE + text_length) return envelope_parse_enum::NEED_MORE;
    out.body_length = static_cast<std::uint32_t>(get_be(data, 20, 4));
    out.sequence = get_be(data, 24, 8);
    out.message_code = static_cast<std::uint32_t>(get_be(data, 32, 4));
    out.header_text = std::string(data.substr(REQUEST_FIXED_SIZE, text_length));
    out.header_size = REQUEST_FIXED_SIZE + text_length;
    return envelope_parse_enum::COMPLETE;
}

std::string make_reply_header(const request_envelope_t& request, std::size_t body_size) {
    std::string out;
    out.reserve(REPLY_HEADER_SIZE);
    put_be(out, REPLY_HEADER_SIZE, 2);
    put_be(out, kSessionVersion, 2);
    put_be(out, body_size, 4);
    put_be(out, request.sequence, 8);
    put_be(out, request.message_code, 4);
    put_be(out, 0, 2);
    return out;
}

std::string make_reply(const request_envelope_t& request, std::string_view body) {
    std::string out = make_reply_header(request, body.size());
    out.append(body);
    return out;
}

std::string make_request(std::uint64_t sequence, std::uint32_t message_code,
                         std::string_view header_text, std::string_view body) {
    std::string out(kSessionPreamble);
    put_be(out, 22 + header_text.size(), 2);
    put_be(out, kSessionVersion, 2);
    put_be(out, body.size(), 4);
    put_be(out, sequence, 8);
    put_be(out, message_code, 4);
    put_be(out, header_text.size(), 2);
    out.append(header_text);
    out.append(body);
    return out;
}

}  // namespace Core_Server
