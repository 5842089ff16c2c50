#include "session/session_format.h"

#include <algorithm>

#include "common/big_endian.h"
#include "common/size_limits.h"
#include "session/soap_session.h"
#include "wire/wire_link.h"

namespace Core_SOAPClient {

using Core_Common::get_be;
using Core_Common::put_be;

std::string build_request_header(std::uint64_t sequence, std::uint32_t message_code,
                                 const std::string& header_text, std::size_t body_size) {
    // The header length field is 16 bits: a longer text is cut to fit.
    const std::size_t text_length =
        std::min<std::size_t>(header_text.size(), 0xFFFF - kRequestHeaderSize);
    std::string out;
    out.reserve(kSessionPreambleSize + kRequestHeaderSize + text_length);
    out.append(kSessionPreamble);
    put_be(out, kRequestHeaderSize + text_length, 2);
    put_be(out, kSessionVersion, 2);
    put_be(out, static_cast<std::uint32_t>(body_size), 4);
    put_be(out, sequence, 8);
    put_be(out, message_code, 4);
    put_be(out, text_length, 2);
    out.append(header_text, 0, text_length);
    return out;
}

std::string build_request(std::uint64_t sequence, std::uint32_t message_code,
                          const std::string& header_text, const std::string& body) {
    std::string out = build_request_header(sequence, message_code, header_text, body.size());
    out.append(body);
    return out;
}

void write_request(soap_hold_t& session) {
    // Header and body go into the link one after the other: the body is
    // copied once, into the link's send buffer.
    const std::string header = build_request_header(session.m_sequence, session.m_message_code,
                                                    session.m_header_text, session.m_body.size());
    soap_wire_t* owner = &session;
    Core_Wire::link_send(session.m_link, owner, header.data(), header.size());
    Core_Wire::link_send(session.m_link, owner, session.m_body.data(), session.m_body.size());
    std::string().swap(session.m_body);
}

std::int32_t parse_reply(soap_hold_t& session, const char* data, std::size_t size,
                         bool& delivered) {
    delivered = false;
    if (size < 8) {
        return 0;
    }
    const auto header_length = static_cast<std::uint32_t>(get_be(data, 2));
    if (size < header_length) {
        return 0;
    }
    const char16_t* failure = nullptr;
    if (header_length < kReplyHeaderMinimum) {
        failure = kInvalidHeaderText;
    } else if (data[2] != 0 || data[3] != 1) {
        failure = kInvalidVersionText;
    } else {
        const std::uint64_t body_length = get_be(data + 4, 4);
        const std::uint64_t total = header_length + body_length;
        if (total > Core_Common::max_reply_bytes) {
            failure = kReplyTooLargeText;
        } else if (size < total) {
            // Reading goes on until the whole reply is buffered, however
            // large the protocol lets it be.
            if (session.m_link != nullptr) {
                Core_Wire::link_expect(session.m_link, static_cast<soap_wire_t*>(&session),
                                       static_cast<std::size_t>(total));
            }
            return 0;
        } else if (get_be(data + 8, 8) == session.m_sequence) {
            if (session.m_waiting != nullptr) {
                std::uint32_t address = 0;
                std::uint16_t port = 0;
                Core_Wire::link_remote_endpoint(session.m_link, static_cast<soap_wire_t*>(&session),
                                                address, port);
                soap_wire_handler_t* waiting = session.m_waiting;
                session.m_waiting = nullptr;
                waiting->reply(data + header_length, static_cast<std::size_t>(body_length),
                               address);
                delivered = true;
            }
            return -2;
        } else {
            failure = kInvalidSessionText;
        }
    }
    if (session.m_waiting != nullptr) {
        soap_wire_handler_t* waiting = session.m_waiting;
        session.m_waiting = nullptr;
        waiting->fail(Core_Common::service_error_t{Core_Common::SERVICE_PROTOCOL_ERROR, failure},
                      boost::system::error_code());
    }
    return -1;
}

}  // namespace Core_SOAPClient
