#include "session_envelope.h"

namespace Core_Server {
namespace {

std::uint64_t read_be(std::string_view data, std::size_t offset, std::size_t size) {
    std::uint64_t v = 0;
    for (std::size_t i = 0; i < size; ++i) {
        v = (v << 8) | static_cast<unsigned char>(data[offset + i]);
    }
    return v;
}

void write_be(std::string& out, std::uint64_t value, std::size_t size) {
    for (std::size_t i = size; i-- > 0;) out.push_back(static_cast<char>(value >> (8 * i)));
}

}  // namespace

envelope_parse_enum parse_request_header(std::string_view data, request_envelope_t& out) {
    const std::size_t preamble_seen = std::min(data.size(), SESSION_PREAMBLE.size());
    if (data.substr(0, preamble_seen) != SESSION_PREAMBLE.substr(0, preamble_seen)) {
        return envelope_parse_enum::INVALID;
    }
    if (data.size() >= 20 && read_be(data, 18, 2) != SESSION_VERSION) {
        return envelope_parse_enum::INVALID;
    }
    if (data.size() < REQUEST_FIXED_SIZE) return envelope_parse_enum::NEED_MORE;
    const auto header_length = read_be(data, 16, 2);
    const auto text_length = read_be(data, 36, 2);
    if (header_length != 22 + text_length) return envelope_parse_enum::INVALID;
    if (data.size() < REQUEST_FIXED_SIZE + text_length) return envelope_parse_enum::NEED_MORE;
    out.body_length = static_cast<std::uint32_t>(read_be(data, 20, 4));
    out.sequence = read_be(data, 24, 8);
    out.message_code = static_cast<std::uint32_t>(read_be(data, 32, 4));
    out.header_text = std::string(data.substr(REQUEST_FIXED_SIZE, text_length));
    out.header_size = REQUEST_FIXED_SIZE + text_length;
    return envelope_parse_enum::COMPLETE;
}

std::string make_reply_header(const request_envelope_t& request, std::size_t body_size) {
    std::string out;
    out.reserve(REPLY_HEADER_SIZE);
    write_be(out, REPLY_HEADER_SIZE, 2);
    write_be(out, SESSION_VERSION, 2);
    write_be(out, body_size, 4);
    write_be(out, request.sequence, 8);
    write_be(out, request.message_code, 4);
    write_be(out, 0, 2);
    return out;
}

std::string make_reply(const request_envelope_t& request, std::string_view body) {
    std::string out = make_reply_header(request, body.size());
    out.append(body);
    return out;
}

std::string make_request(std::uint64_t sequence, std::uint32_t message_code,
                         std::string_view header_text, std::string_view body) {
    std::string out(SESSION_PREAMBLE);
    write_be(out, 22 + header_text.size(), 2);
    write_be(out, SESSION_VERSION, 2);
    write_be(out, body.size(), 4);
    write_be(out, sequence, 8);
    write_be(out, message_code, 4);
    write_be(out, header_text.size(), 2);
    out.append(header_text);
    out.append(body);
    return out;
}

}  // namespace Core_Server
