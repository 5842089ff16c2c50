// The server's request path on arbitrary bytes: the envelope reader, then
// the body as the server opens it under its caps (the message document, then
// the data part, as after a login), then the tree of a commit.
// The first byte chooses where the bytes enter:
//   0: the bytes as received on a connection;
//   1: the rest as a plain payload (two lengths, document, data), packed and
//      enciphered here so the fuzzer reaches the split and the document.
// No crash, no leak, no undefined behaviour, no read past the input, and no
// request read that breaks a cap.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "account_name.h"
#include "bookmarks/tree_xml.h"
#include "common/crypto.h"
#include "common/gzip.h"
#include "common/wire_constants.h"
#include "session_envelope.h"
#include "sync_message.h"

namespace {

void read_body(std::string_view body) {
    Core_Server::request_limits_t limits;
    limits.max_tree_bytes = 1 << 20;
    Core_Server::sync_request_t request;
    if (Core_Server::read_sync_request(body, limits, request) !=
        Core_Server::request_read_enum::READ) {
        return;
    }
    if (!Core_Server::is_valid_account_name(request.user) ||
        request.password.size() > Core_Server::MAX_PASSWORD_BYTES ||
        request.peer_id.size() != Core_Server::PEER_ID_DIGITS ||
        request.peer_id.find_first_not_of("0123456789abcdef") != std::string::npos ||
        request.client_type.size() > Core_Server::MAX_CLIENT_TYPE_BYTES || !request.data.empty() ||
        request.packed.data_length > limits.max_tree_bytes) {
        std::abort();
    }
    const bool commit = request.action == Core_Server::sync_action_enum::COMMIT;
    const std::size_t stated = request.packed.data_length;
    if (Core_Server::read_request_data(request, limits, commit) !=
        Core_Server::request_read_enum::READ) {
        return;
    }
    if (!request.packed.member.empty() || request.data.size() != (commit ? stated : 0)) {
        std::abort();
    }
    if (commit) {
        Core_ZorvaneMerge::zorvane_node_t tree(0, "");
        Core_ZorvaneMerge::read_tree(request.data, tree);
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) return 0;
    const std::string_view input(reinterpret_cast<const char*>(data) + 1, size - 1);
    if (data[0] == 1) {
        std::string body(input);
        if (Core_Common::gzip_compress(body) &&
            Core_Common::encrypt(Core_Common::kMessagePassphrase, body)) {
            read_body(body);
        }
        return 0;
    }
    Core_Server::request_envelope_t envelope;
    if (Core_Server::parse_request_header(input, envelope) !=
        Core_Server::envelope_parse_enum::COMPLETE) {
        return 0;
    }
    if (envelope.header_size > input.size()) std::abort();
    const std::string_view rest = input.substr(envelope.header_size);
    if (rest.size() >= envelope.body_length) read_body(rest.substr(0, envelope.body_length));
    return 0;
}
