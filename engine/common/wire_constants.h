// Public engine surface, shared with zorvane-server: the fixed texts of the
// sync protocol that both ends speak, each written once here.
//
//   - Every session request starts with kSessionPreamble (16 ASCII
//     characters) and carries kSessionVersion in its header; replies carry
//     the version too (session/session_format.h on the client,
//     server/session_envelope.h on the server).
//   - Every sync message body, request or reply, is enciphered
//     (common/crypto.h) under kMessagePassphrase, the same in both directions
//     (sync_client/sync_payload.h, server/sync_message.h).
//
// Thread rule: constants only.
#pragma once

#include <cstdint>
#include <string_view>

namespace Core_Common {

inline constexpr std::string_view kSessionPreamble = "3A9C1E07B5D2F846";
inline constexpr std::uint16_t kSessionVersion = 1;

inline constexpr std::string_view kMessagePassphrase = "k7Tq#w2Lp9z";

}  // namespace Core_Common
