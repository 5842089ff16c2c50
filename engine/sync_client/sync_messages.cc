#include "sync_client/sync_messages.h"

namespace Core_ZorvaneClient {
namespace {

using Core_Common::xml_node_t;
namespace el = sync_element;

// The document down to its action element; the caller adds the fields.
xml_node_t& start_request(xml_node_t& document, const char16_t* action) {
    document.name = el::kZorvane;
    return document.add_child(el::kZorvane).add_child(el::kRequest).add_child(action);
}

void add_credentials(xml_node_t& action, const account_t& account, const std::string& peer_id) {
    action.add_child(el::kUsername).set_wide(account.user_name);
    action.add_child(el::kPassword).set_wide(account.password);
    action.add_child(el::kClientVersion).set_int32(0);
    action.add_child(el::kPeerId).set_ansi(peer_id);
}

std::string serialize(const xml_node_t& document) {
    std::string out;
    document.serialize(out, false);
    return out;
}

}  // namespace

std::string update_request_document(const account_t& account, const std::string& peer_id,
                                    std::int32_t version) {
    xml_node_t document;
    xml_node_t& action = start_request(document, el::kUpdate);
    add_credentials(action, account, peer_id);
    action.add_child(el::kBaseline)
        .set_uint32(version == -1 ? 0u : static_cast<std::uint32_t>(version));
    return serialize(document);
}

std::string commit_request_document(const account_t& account, const std::string& peer_id,
                                    const std::string& client_type, std::uint32_t baseline) {
    xml_node_t document;
    xml_node_t& action = start_request(document, el::kCommit);
    add_credentials(action, account, peer_id);
    action.add_child(el::kClientType).set_ansi(client_type);
    action.add_child(el::kBaseline).set_uint32(baseline);
    return serialize(document);
}

std::string overwrite_request_document(const account_t& account, const std::string& peer_id,
                                       const std::string& client_type) {
    xml_node_t document;
    xml_node_t& action = start_request(document, el::kCommit);
    add_credentials(action, account, peer_id);
    action.add_child(el::kOverWrite).set_bool(true);
    action.add_child(el::kClientType).set_ansi(client_type);
    action.add_child(el::kBaseline).set_int32(0);
    return serialize(document);
}

Core_Common::service_error_t read_server_result(const xml_node_t& element) {
    Core_Common::service_error_t result;
    std::string name;
    if (!element.get_attribute(el::kResult, name)) {
        return result;
    }
    result.code = Core_Common::service_code_from_name(name);
    element.get_attribute(el::kResultMessage, result.message);
    return result;
}

}  // namespace Core_ZorvaneClient
