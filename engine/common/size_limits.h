// Public engine surface, shared with zorvane-server: the size limits of the
// sync messages and of the local record, each written once here. Every other
// limit in the engine and the server is one of these or follows from them;
// the README's "Size limits" section states them for people.
//
// The chain, from the one limit that is given:
//   - A sync message, unpacked (its payload: the two lengths, the message
//     document and the tree document), is at most
//     max_unpacked_message_bytes: the most the gzip layer inflates.
//   - The message document (the XML part) is at most
//     max_message_document_bytes, so a tree document of up to
//     max_tree_bytes always fits a message. Larger trees are refused by the
//     client before anything is sent or written, and answered "POLICY" by the
//     server.
//   - A message packs (gzip, then the cipher envelope) into at most
//     max_packed_message_bytes, whatever its bytes: deflate's worst case adds
//     five bytes per stored block of 16 KiB and the frames add a few dozen.
//   - A session message on the wire is the packed body behind a header of at
//     most max_session_header_bytes: the server reads requests of up to
//     max_request_bytes and the client replies of up to max_reply_bytes;
//     anything longer is not a message of this protocol.
//   - The local record holds the tree document as Base64 text inside its own
//     small document, a third larger than the tree: its unpacked size is at
//     most max_record_document_bytes, and it is inflated with that cap.
//
// Thread rule: constants only.
#pragma once

#include <cstddef>

namespace Core_Common {

inline constexpr std::size_t kKiB = 1024;
inline constexpr std::size_t kMiB = 1024 * kKiB;

// The most one sync message unpacks to (and the default cap of gzip's
// inflation): 128 MiB.
inline constexpr std::size_t max_unpacked_message_bytes = 128 * kMiB;

// The most a message document (the XML part of a request or a reply) may
// hold: user name, password, peer identifier, client type, versions, dates.
inline constexpr std::size_t max_message_document_bytes = 64 * kKiB;

// The two big-endian lengths in front of the payload's parts.
inline constexpr std::size_t payload_lengths_bytes = 8;

// The largest bookmark tree document that syncs: a message holding it and the
// largest message document stays within max_unpacked_message_bytes.
inline constexpr std::size_t max_tree_bytes =
    max_unpacked_message_bytes - payload_lengths_bytes - max_message_document_bytes;

// What packing may add to a message at most: deflate's stored blocks (5 bytes
// per 16 KiB block and a few more; zlib's bound for 128 MiB is about 40 KiB),
// the gzip frame (18 bytes) and the cipher envelope (at most 26 bytes).
inline constexpr std::size_t max_packing_overhead_bytes = 64 * kKiB;

// The most a packed message body can hold.
inline constexpr std::size_t max_packed_message_bytes =
    max_unpacked_message_bytes + max_packing_overhead_bytes;

// The session header in front of a body: the 16-byte preamble and a header
// whose length is a 16-bit field.
inline constexpr std::size_t max_session_header_bytes = 16 + 0xFFFF;

// The longest request the server reads, envelope included.
inline constexpr std::size_t max_request_bytes =
    max_session_header_bytes + max_packed_message_bytes;

// The longest reply the client reads, header included.
inline constexpr std::size_t max_reply_bytes = max_session_header_bytes + max_packed_message_bytes;

// Base64 text of n bytes.
constexpr std::size_t base64_size(std::size_t n) { return (n + 2) / 3 * 4; }

// The most the local record's document unpacks to: the Base64 text of the
// largest tree a message can carry, and room for the record's other
// elements (user name, password hash, version, date, client type).
inline constexpr std::size_t max_record_document_bytes =
    base64_size(max_unpacked_message_bytes) + max_message_document_bytes;

static_assert(max_tree_bytes + payload_lengths_bytes + max_message_document_bytes ==
              max_unpacked_message_bytes);
static_assert(max_request_bytes < 0xFFFFFFFFu, "a session body length is a 32-bit field");

}  // namespace Core_Common
