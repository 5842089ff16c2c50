// Internal to the server: the sync requests and replies inside the session
// envelope.
//
// A body is a payload packed by gzip and then enciphered under the message
// passphrase (common/wire_constants.h), in both directions. The payload is two big-endian 32-bit
// lengths X and D, then X bytes of XML (the message document) and D bytes of
// data (a bookmark tree document, or nothing).
//
// Request documents: Zorvane / Zorvane / Request / (Update | Commit) with
// text-only fields "Username", "Password", "ClientVersion", "PeerID",
// "ClientType", "OverWrite", "BookmarkVersionBaseline".
// Reply documents: Zorvane / Zorvane / Response with attributes "result" and
// "result_message", and optionally an "Update" or a "Commit" child.
//
// All functions are pure and thread-safe.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "common/size_limits.h"

namespace Core_Server {

// Result names of the service, as the client knows them.
namespace result_name {
inline constexpr const char* OK = "OK";
inline constexpr const char* MAINTENANCE = "MAINTENANCE";
inline constexpr const char* BUSY = "BUSY";
inline constexpr const char* PROTOCOL_ERROR = "PROTOCOL_ERROR";
inline constexpr const char* EXCEPTION = "EXCEPTION";
inline constexpr const char* NO_RECORD = "NO_RECORD";
inline constexpr const char* INVALID_PASSWORD = "INVALID_PASSWORD";
inline constexpr const char* POLICY = "POLICY";
inline constexpr const char* INVALID_VERSION = "INVALID_VERSION";
}  // namespace result_name

enum class sync_action_enum { UPDATE, COMMIT };

struct sync_request_t {
    sync_action_enum action = sync_action_enum::UPDATE;
    std::string user;      // UTF-8
    std::string password;  // UTF-8
    std::string peer_id;
    std::string client_type;
    bool overwrite = false;
    // The version the client holds; 0 when it holds none.
    std::int64_t baseline = 0;
    // The payload as it came, deciphered but still packed (a gzip member),
    // with where its data part begins once unpacked and how long the payload
    // says it is: read_sync_request unpacks only the lengths and the message
    // document, read_request_data the rest.
    struct packed_t {
        std::string member;
        std::size_t data_offset = 0;
        std::size_t data_length = 0;
    } packed;
    std::string data;  // the data part, once read: a tree document for a commit
};

// The hard caps on a request, checked while it is opened, before the store,
// the login throttle or the log sees any of it.
struct request_limits_t {
    // The data part (a tree); the whole payload may unpack to this plus
    // `max_xml_bytes` and the two lengths, no more.
    std::size_t max_tree_bytes = Core_Common::max_tree_bytes;
    // The message document: a request has ten elements, five deep, and
    // fields of a few hundred bytes.
    std::size_t max_xml_bytes = 16 * 1024;
    std::size_t max_xml_depth = 8;
    std::size_t max_xml_elements = 64;
};
static_assert(request_limits_t{}.max_xml_bytes <= Core_Common::max_message_document_bytes);

// Field rules: the user name follows the account-name rule (account_name.h),
// the password holds at most MAX_PASSWORD_BYTES, the peer identifier is
// exactly PEER_ID_DIGITS hexadecimal digits (read in lower case), the client
// type holds at most MAX_CLIENT_TYPE_BYTES.
inline constexpr std::size_t MAX_PASSWORD_BYTES = 1024;
inline constexpr std::size_t PEER_ID_DIGITS = 40;
inline constexpr std::size_t MAX_CLIENT_TYPE_BYTES = 64;

enum class request_read_enum {
    READ,       // `out` holds the request
    MALFORMED,  // not a request, or one breaking a cap or a field rule
    TOO_LARGE,  // the payload unpacks beyond the caps, or the tree is too large
};

// Reads what a request body says before its password is checked, under
// `limits`: it is deciphered and unpacked only as far as the two lengths and
// the message document, so a data part that unpacks to a hundred megabytes
// costs nothing yet; the packed payload stays in `out.packed`. MALFORMED when
// the body does not decipher, the payload ends or breaks before the document
// does, the document does not parse, breaks a cap or lacks the request
// element, when the action is neither Update nor Commit, or when a field
// breaks its rule. TOO_LARGE when the payload states more bytes than the caps
// allow, or its lengths do. `out` is written only on READ, and its data part
// is left unread.
[[nodiscard]] request_read_enum read_sync_request(std::string_view body,
                                                  const request_limits_t& limits,
                                                  sync_request_t& out);
// Unpacks the data part of a request read_sync_request read, into
// `request.data` when `keep`, else only checking it; `request.packed` is
// released either way. MALFORMED when the payload does not unpack whole, or
// to the lengths it states; TOO_LARGE beyond the caps.
[[nodiscard]] request_read_enum read_request_data(sync_request_t& request,
                                                  const request_limits_t& limits, bool keep = true);
// Both under the default limits; true when the request and its data part
// read.
[[nodiscard]] bool read_sync_request(std::string_view body, sync_request_t& out);

// What a reply says, beyond its result.
struct sync_reply_t {
    std::string result = result_name::OK;
    std::string result_message;
    // An "Update" element: the stored version the client should adopt.
    struct update_t {
        std::int32_t version = 0;
        std::string date;
        std::string client_type;
    };
    std::optional<update_t> update;
    // A "Commit" element with its own result.
    struct commit_t {
        std::string result = result_name::OK;
        std::int32_t version = 0;  // "BookmarkVersionBaseline"
        std::string date;
        std::string client_type;
    };
    std::optional<commit_t> commit;
    std::string data;  // the data part
};

// Writes, packs and enciphers a reply. Returns false only when a codec
// fails (out of memory); `body` is then unchanged.
[[nodiscard]] bool write_sync_reply(const sync_reply_t& reply, std::string& body);
// The same, taking the reply's data part (a tree) over instead of copying
// it; `reply.data` is left empty, also on failure.
[[nodiscard]] bool write_sync_reply(sync_reply_t&& reply, std::string& body);

// The reverse of both, for tests and load generators: writes a request body,
// and reads a reply body (false when it does not open).
[[nodiscard]] bool write_sync_request(const sync_request_t& request, std::string& body);
[[nodiscard]] bool read_sync_reply(std::string_view body, sync_reply_t& out);

}  // namespace Core_Server
