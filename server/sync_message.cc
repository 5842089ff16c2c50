#include "sync_message.h"

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <utility>

#include "account_name.h"
#include "common/big_endian.h"
#include "common/crypto.h"
#include "common/gzip.h"
#include "common/wire_constants.h"
#include "common/xml_node.h"

namespace Core_Server {
namespace {

using Core_Common::xml_node_t;

using Core_Common::get_be;
using Core_Common::kMessagePassphrase;
using Core_Common::put_be;

// Opens a reply body: its payload, unpacked whole, split into the message
// document and the data part.
bool open_payload(std::string_view body, std::string& xml, std::string& data) {
    std::string bytes(body);
    if (!Core_Common::decrypt(kMessagePassphrase, bytes)) return false;
    if (!Core_Common::gzip_decompress(bytes)) return false;
    if (bytes.size() < 8) return false;
    const auto x = static_cast<std::uint32_t>(get_be(bytes, 0, 4));
    const auto d = static_cast<std::uint32_t>(get_be(bytes, 4, 4));
    if (x > bytes.size() - 8 || bytes.size() - 8 - x != d) return false;
    xml = bytes.substr(8, x);
    // The data part (a tree of tens of megabytes) stays in the buffer it was
    // unpacked into.
    bytes.erase(0, 8 + std::size_t{x});
    data = std::move(bytes);
    return true;
}

// Packs the document and `data` (taken over: the payload is built in its
// buffer rather than in a copy of it).
bool pack_payload(const xml_node_t& document, std::string data, std::string& body) {
    std::string xml;
    document.serialize(xml, false);
    if (xml.empty() || xml.size() > 0xffffffffu || data.size() > 0xffffffffu) return false;
    std::string prefix;
    prefix.reserve(8 + xml.size());
    put_be(prefix, xml.size(), 4);
    put_be(prefix, data.size(), 4);
    prefix += xml;
    // The lengths, the document and the data go through the packer in
    // turn: the payload is never put together (that moved or copied the
    // whole data part).
    Core_Common::gzip_writer_t packer;
    packer.expect(prefix.size() + data.size());
    std::string packed;
    if (!packer.add(prefix) || !packer.add(data)) return false;
    std::string().swap(data);
    if (!packer.finish(packed)) return false;
    if (!Core_Common::encrypt(kMessagePassphrase, packed)) return false;
    body = std::move(packed);
    return true;
}

void add_text(xml_node_t& parent, std::u16string_view name, std::string_view utf8) {
    parent.add_child(name).text = std::string(utf8);
}

const std::string* child_text(const xml_node_t& parent, std::u16string_view name) {
    const xml_node_t* child = parent.find_child(name);
    return child ? &child->text : nullptr;
}

}  // namespace

static bool is_hex_digits(const std::string& text) {
    return text.find_first_not_of("0123456789abcdefABCDEF") == std::string::npos;
}

// The most a request's payload may unpack to: the lengths, the document and
// the tree.
static std::size_t payload_limit(const request_limits_t& limits) {
    return Core_Common::payload_lengths_bytes + limits.max_xml_bytes + limits.max_tree_bytes;
}

// Unpacks `packed.member` only as far as the lengths and the message
// document (into `xml`) and fills in the rest of `packed`. A payload whose
// data part is empty is unpacked and checked whole.
static request_read_enum open_request_head(const request_limits_t& limits,
                                           sync_request_t::packed_t& packed, std::string& xml) {
    constexpr std::size_t LENGTHS = Core_Common::payload_lengths_bytes;
    request_read_enum outcome = request_read_enum::READ;
    std::string head;  // the lengths, then the document
    std::size_t wanted = LENGTHS;
    bool lengths_read = false;
    std::size_t data_length = 0;
    bool head_done = false;  // stopped with the head whole: the data part stays packed
    const auto take = [&](std::string_view piece) {
        for (;;) {
            const std::size_t n = std::min(piece.size(), wanted - head.size());
            head.append(piece.data(), n);
            piece.remove_prefix(n);
            if (head.size() < wanted) return true;
            if (!lengths_read) {
                lengths_read = true;
                const auto xml_length = static_cast<std::size_t>(get_be(head, 0, 4));
                data_length = static_cast<std::size_t>(get_be(head, 4, 4));
                if (xml_length > limits.max_xml_bytes) {
                    outcome = request_read_enum::MALFORMED;
                    return false;
                }
                if (data_length > limits.max_tree_bytes) {
                    outcome = request_read_enum::TOO_LARGE;
                    return false;
                }
                wanted += xml_length;
                head.reserve(wanted);
                continue;
            }
            if (data_length > 0) {
                head_done = true;
                return false;
            }
            // Nothing may follow an empty data part.
            if (!piece.empty()) {
                outcome = request_read_enum::MALFORMED;
                return false;
            }
            return true;
        }
    };
    bool too_large = false;
    const bool whole =
        Core_Common::gzip_decompress(packed.member, take, payload_limit(limits), too_large);
    if (!head_done) {
        if (outcome != request_read_enum::READ) return outcome;
        if (!whole) return too_large ? request_read_enum::TOO_LARGE : request_read_enum::MALFORMED;
        if (!lengths_read || head.size() < wanted) return request_read_enum::MALFORMED;
    }
    packed.data_offset = wanted;
    packed.data_length = data_length;
    xml = head.substr(LENGTHS);
    return request_read_enum::READ;
}

request_read_enum read_request_data(sync_request_t& request, const request_limits_t& limits,
                                    bool keep) {
    sync_request_t::packed_t packed = std::exchange(request.packed, {});
    request.data.clear();
    // An empty data part was checked with the document.
    if (packed.data_length == 0) return request_read_enum::READ;
    std::string data;
    if (keep) data.reserve(packed.data_length);
    std::size_t at = 0;     // bytes unpacked
    std::size_t taken = 0;  // of the data part
    const auto take = [&](std::string_view piece) {
        if (at < packed.data_offset) {
            const std::size_t skipped = std::min(piece.size(), packed.data_offset - at);
            piece.remove_prefix(skipped);
            at += skipped;
        }
        // More than the payload said.
        if (piece.size() > packed.data_length - taken) return false;
        if (keep) data.append(piece);
        taken += piece.size();
        at += piece.size();
        return true;
    };
    bool too_large = false;
    if (!Core_Common::gzip_decompress(packed.member, take, payload_limit(limits), too_large)) {
        return too_large ? request_read_enum::TOO_LARGE : request_read_enum::MALFORMED;
    }
    if (taken != packed.data_length) return request_read_enum::MALFORMED;
    request.data = std::move(data);
    return request_read_enum::READ;
}

request_read_enum read_sync_request(std::string_view body, const request_limits_t& limits,
                                    sync_request_t& out) {
    constexpr auto MALFORMED = request_read_enum::MALFORMED;
    sync_request_t::packed_t packed;
    packed.member.assign(body);
    if (!Core_Common::decrypt(kMessagePassphrase, packed.member)) return MALFORMED;
    std::string xml;
    if (const auto opened = open_request_head(limits, packed, xml);
        opened != request_read_enum::READ) {
        return opened;
    }
    Core_Common::xml_limits_t xml_limits;
    xml_limits.max_depth = limits.max_xml_depth;
    xml_limits.max_elements = limits.max_xml_elements;
    xml_node_t root;
    if (!root.parse(xml, xml_limits)) return MALFORMED;
    const xml_node_t* request = root.find_path(u"Zorvane/Request");
    if (!request) return MALFORMED;
    const xml_node_t* action = nullptr;
    for (const xml_node_t* child : request->children) {
        if (child->name == u"Update" || child->name == u"Commit") {
            action = child;
            break;
        }
    }
    if (!action) return MALFORMED;
    const std::string* user = child_text(*action, u"Username");
    const std::string* password = child_text(*action, u"Password");
    const std::string* peer = child_text(*action, u"PeerID");
    if (!user || !password || !peer) return MALFORMED;
    if (!is_valid_account_name(*user) || password->size() > MAX_PASSWORD_BYTES ||
        peer->size() != PEER_ID_DIGITS || !is_hex_digits(*peer)) {
        return MALFORMED;
    }
    sync_request_t r;
    r.action = action->name == u"Update" ? sync_action_enum::UPDATE : sync_action_enum::COMMIT;
    r.user = *user;
    r.password = *password;
    r.peer_id = *peer;
    for (char& c : r.peer_id) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    if (const auto* type = child_text(*action, u"ClientType")) {
        if (type->size() > MAX_CLIENT_TYPE_BYTES) return MALFORMED;
        r.client_type = *type;
    }
    if (const auto* overwrite = child_text(*action, u"OverWrite"))
        r.overwrite = *overwrite == "true";
    std::int64_t baseline = 0;
    action->get_child(u"BookmarkVersionBaseline", baseline);
    r.baseline = baseline;
    r.packed = std::move(packed);
    out = std::move(r);
    return request_read_enum::READ;
}

bool read_sync_request(std::string_view body, sync_request_t& out) {
    sync_request_t r;
    if (read_sync_request(body, request_limits_t{}, r) != request_read_enum::READ ||
        read_request_data(r, request_limits_t{}) != request_read_enum::READ) {
        return false;
    }
    out = std::move(r);
    return true;
}

bool write_sync_reply(const sync_reply_t& reply, std::string& body) {
    sync_reply_t copy = reply;
    return write_sync_reply(std::move(copy), body);
}

bool write_sync_reply(sync_reply_t&& reply, std::string& body) {
    xml_node_t root;
    root.name = u"Zorvane";
    xml_node_t& response = root.add_child(u"Zorvane").add_child(u"Response");
    response.add_attribute("result", reply.result);
    if (!reply.result_message.empty()) {
        response.add_attribute("result_message", reply.result_message);
    }
    if (reply.update) {
        xml_node_t& update = response.add_child(u"Update");
        update.add_child(u"BookmarkVersion").set_int32(reply.update->version);
        add_text(update, u"BookmarkDate", reply.update->date);
        add_text(update, u"SubmitClientType", reply.update->client_type);
    }
    if (reply.commit) {
        xml_node_t& commit = response.add_child(u"Commit");
        commit.add_attribute("result", reply.commit->result);
        commit.add_child(u"BookmarkVersionBaseline").set_int32(reply.commit->version);
        add_text(commit, u"BookmarkDate", reply.commit->date);
        add_text(commit, u"SubmitClientType", reply.commit->client_type);
    }
    return pack_payload(root, std::exchange(reply.data, std::string()), body);
}

bool write_sync_request(const sync_request_t& request, std::string& body) {
    xml_node_t root;
    root.name = u"Zorvane";
    xml_node_t& action =
        root.add_child(u"Zorvane")
            .add_child(u"Request")
            .add_child(request.action == sync_action_enum::UPDATE ? u"Update" : u"Commit");
    add_text(action, u"Username", request.user);
    add_text(action, u"Password", request.password);
    action.add_child(u"ClientVersion").set_int32(0);
    add_text(action, u"PeerID", request.peer_id);
    if (request.action == sync_action_enum::COMMIT) {
        if (request.overwrite) action.add_child(u"OverWrite").set_bool(true);
        add_text(action, u"ClientType", request.client_type);
    }
    action.add_child(u"BookmarkVersionBaseline").set_int64(request.baseline);
    return pack_payload(root, request.data, body);
}

bool read_sync_reply(std::string_view body, sync_reply_t& out) {
    std::string xml, data;
    if (!open_payload(body, xml, data)) return false;
    xml_node_t root;
    if (!root.parse(xml)) return false;
    const xml_node_t* response = root.find_path(u"Zorvane/Response");
    if (!response) return false;
    sync_reply_t r;
    if (!response->get_attribute(u"result", r.result)) r.result = result_name::OK;
    response->get_attribute(u"result_message", r.result_message);
    if (const xml_node_t* update = response->find_child(u"Update")) {
        sync_reply_t::update_t u;
        update->get_child(u"BookmarkVersion", u.version);
        if (const auto* date = child_text(*update, u"BookmarkDate")) u.date = *date;
        if (const auto* type = child_text(*update, u"SubmitClientType")) u.client_type = *type;
        r.update = u;
    }
    if (const xml_node_t* commit = response->find_child(u"Commit")) {
        sync_reply_t::commit_t c;
        if (!commit->get_attribute(u"result", c.result)) c.result = result_name::OK;
        commit->get_child(u"BookmarkVersionBaseline", c.version);
        if (const auto* date = child_text(*commit, u"BookmarkDate")) c.date = *date;
        if (const auto* type = child_text(*commit, u"SubmitClientType")) c.client_type = *type;
        r.commit = c;
    }
    r.data = std::move(data);
    out = std::move(r);
    return true;
}

}  // namespace Core_Server
