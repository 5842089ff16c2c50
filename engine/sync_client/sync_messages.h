// Public engine surface: the message documents of the sync protocol.
//
// Requests are a root "Zorvane" holding "Zorvane", holding "Request",
// holding one action element ("Update" or "Commit") whose text-only children
// are the fields, in a fixed order. They are serialised without indentation.
// Replies carry "Zorvane/Response" below any root element; "Response" (and,
// in commit replies, "Commit") state the server's result in their
// attributes "result" and "result_message".
//
// Thread rule: pure functions, callable from any thread.
#pragma once

#include <cstdint>
#include <string>

#include "common/service_error.h"
#include "common/xml_node.h"
#include "sync_client/account.h"

namespace Core_ZorvaneClient {

// Element names of the protocol, requests and replies.
namespace sync_element {
inline constexpr const char16_t* kZorvane = u"Zorvane";
inline constexpr const char16_t* kRequest = u"Request";
inline constexpr const char16_t* kResponsePath = u"Zorvane/Response";
inline constexpr const char16_t* kUpdate = u"Update";
inline constexpr const char16_t* kCommit = u"Commit";
inline constexpr const char16_t* kUsername = u"Username";
inline constexpr const char16_t* kPassword = u"Password";
inline constexpr const char16_t* kClientVersion = u"ClientVersion";
inline constexpr const char16_t* kPeerId = u"PeerID";
inline constexpr const char16_t* kOverWrite = u"OverWrite";
inline constexpr const char16_t* kClientType = u"ClientType";
inline constexpr const char16_t* kBaseline = u"BookmarkVersionBaseline";
inline constexpr const char16_t* kBookmarkVersion = u"BookmarkVersion";
inline constexpr const char16_t* kBookmarkDate = u"BookmarkDate";
inline constexpr const char16_t* kSubmitClientType = u"SubmitClientType";
inline constexpr const char16_t* kResult = u"result";
inline constexpr const char16_t* kResultMessage = u"result_message";
}  // namespace sync_element

// The update request: Username, Password (as entered), ClientVersion 0,
// PeerID, BookmarkVersionBaseline (`version`, or 0 when it is -1).
std::string update_request_document(const account_t& account, const std::string& peer_id,
                                    std::int32_t version);

// The commit request: Username, Password, ClientVersion 0, PeerID,
// ClientType, BookmarkVersionBaseline (`baseline`, unsigned decimal).
std::string commit_request_document(const account_t& account, const std::string& peer_id,
                                    const std::string& client_type, std::uint32_t baseline);

// The overwrite request (action element "Commit"): Username, Password,
// ClientVersion 0, PeerID, OverWrite "true", ClientType,
// BookmarkVersionBaseline 0.
std::string overwrite_request_document(const account_t& account, const std::string& peer_id,
                                       const std::string& client_type);

// The server result stated by `element`: code 0 with an empty message when
// it has no "result" attribute; otherwise the code of the attribute's name
// (service_code_from_name) and the text of "result_message" (empty when
// absent).
Core_Common::service_error_t read_server_result(const Core_Common::xml_node_t& element);

}  // namespace Core_ZorvaneClient
