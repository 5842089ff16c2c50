// Public engine surface: the body of a sync message, in both directions.
//
// Before packing, a body is a payload:
//   offset 0  4 bytes  X, the length of the XML part, unsigned big-endian
//   offset 4  4 bytes  D, the length of the data part, unsigned big-endian
//   offset 8  X bytes  the message document (UTF-8)
//   then      D bytes  a bookmark tree document, or nothing
// Packing gzips the whole payload (common/gzip.h) and then wraps it in the
// cipher envelope (common/crypto.h) under kMessagePassphrase; opening a
// reply undoes both in reverse order.
//
// Thread rule: pure functions, callable from any thread.
#pragma once

#include <cstddef>
#include <functional>
#include <string>
#include <string_view>

#include "common/service_error.h"
#include "common/wire_constants.h"
#include "common/xml_node.h"

namespace Core_ZorvaneClient {

// The passphrase of requests and replies alike.
using Core_Common::kMessagePassphrase;

// The message of every split_payload failure.
inline constexpr const char16_t* kInvalidExtendProtocolText = u"Invalid Extend Protocol.";

// The payload of an XML part and a data part (big-endian X and D, then both
// parts).
std::string make_payload(std::string_view xml_part, std::string_view data_part);
// The same, built in the data part's own storage (a tree document of tens
// of megabytes is not copied).
std::string make_payload_around(std::string_view xml_part, std::string&& data_part);

// Packs a message whose data part `write_data` writes in pieces (it calls
// the function it is given with each piece) straight into the packer, so
// the data part (a tree document of up to a hundred megabytes) is never
// whole in memory; `data_size` gets its length. The message opens to the
// payload of `xml_part` and that data part, as pack_payload(make_payload())
// would give it. False when a step fails; `body` must then not be sent.
using data_writer_t = std::function<void(const std::function<void(std::string_view)>&)>;
bool pack_message(std::string_view xml_part, const data_writer_t& write_data, std::string& body,
                  std::size_t& data_size);

// Packs `payload` in place: gzip, then the envelope under kMessagePassphrase.
// Returns false when either step fails; `payload` is then unspecified and
// must not be sent.
bool pack_payload(std::string& payload);

// Splits an unpacked payload. On success returns code 0, stores the XML part
// in `xml_part` and leaves `buffer` holding exactly the data part. When the
// buffer is shorter than 8 bytes, X runs past its end, or the rest is not D
// bytes long, returns code 4 with kInvalidExtendProtocolText (`buffer` may
// then have lost its first 8 + X bytes; `xml_part` is set only when X fits).
Core_Common::service_error_t split_payload(std::string& buffer, std::string& xml_part);

// Bounds on the XML part of a reply: a reply document has a handful of
// elements, a few levels deep, with short texts.
inline constexpr std::size_t kMaxReplyXmlBytes = 64 * 1024;
inline constexpr std::size_t kMaxReplyXmlDepth = 8;
inline constexpr std::size_t kMaxReplyXmlElements = 64;

// Opens a reply body: decipher under kMessagePassphrase, gunzip, split, parse
// the XML part (refused beyond the bounds above, or with a document type
// declaration), and find "Zorvane/Response" below its root element. On
// success returns true with the parsed document in `document` (so
// document.find_path(u"Zorvane/Response") is not null) and the data part in
// `data_part`. Any failing step returns false; the outputs are then
// unspecified and nothing of the reply may be used.
bool open_reply(std::string body, Core_Common::xml_node_t& document, std::string& data_part);

}  // namespace Core_ZorvaneClient
