// Internal to the session client: the bytes of a session.
//
// Request (written on the link): the 16-byte preamble "3A9C1E07B5D2F846",
// then big-endian header_length (22 + L), version 1, body_length, the 64-bit
// sequence, message_code, header_text_length L, header_text, and the body.
// A request with an empty header text is 38 + body_length bytes.
//
// Reply (parsed from the front of the receive buffer, no preamble):
// header_length (at least 20), version bytes 0 and 1, body_length, sequence
// (must equal the request's), the rest of the header uninterpreted, then the
// body. The reply is complete with header_length + body_length bytes; a sum
// beyond the 32-bit range never completes.
//
// Thread rule: main thread (the session's).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "common/wire_constants.h"

namespace Core_SOAPClient {

class soap_hold_t;

using Core_Common::kSessionPreamble;
using Core_Common::kSessionVersion;
inline constexpr std::size_t kSessionPreambleSize = kSessionPreamble.size();
inline constexpr std::size_t kRequestHeaderSize = 22;  // without the header text
inline constexpr std::uint16_t kReplyHeaderMinimum = 20;

inline constexpr const char16_t* kInvalidHeaderText = u"Invalid SOAP Protocol Header.";
inline constexpr const char16_t* kInvalidVersionText = u"Invalid SOAP Protocol Version.";
inline constexpr const char16_t* kInvalidSessionText = u"Invalid SOAP Session.";

// The request bytes of a session before its body (preamble and header).
std::string build_request_header(std::uint64_t sequence, std::uint32_t message_code,
                                 const std::string& header_text, std::size_t body_size);
// The request bytes of a session.
std::string build_request(std::uint64_t sequence, std::uint32_t message_code,
                          const std::string& header_text, const std::string& body);

// Writes the session's request to its link, then empties its stored body.
void write_request(soap_hold_t& session);

// Parses the reply at the front of the session's receive buffer (the
// on_received contract of the wire layer: n >= 0 consumed, 0 need more, -1
// consume all and close now, -2 consume all and close after flush). A whole
// reply with the right sequence is handed to the waiting operation (and
// `delivered` set); a failed check is reported to it as a session error.
std::int32_t parse_reply(soap_hold_t& session, const char* data, std::size_t size, bool& delivered);

}  // namespace Core_SOAPClient
