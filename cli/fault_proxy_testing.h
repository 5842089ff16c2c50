// Test support (the cli test program only): a proxy on a loopback socket in
// front of a real zorvane-server, which lets a test decide, request by
// request, what the client gets back: the server's own reply, a reply the
// server would never send, half a reply, or no reply at all. Requests and
// replies are read and written with the server's own codec.
#pragma once

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "bookmarks/tree_xml.h"
#include "server_process_testing.h"
#include "session_envelope.h"
#include "socket/scripted_peer_testing.h"
#include "sync_message.h"

namespace Zorvane_Cli::testing {

// What the proxy does with one connection.
enum class fault_enum {
    NONE,             // forward the request, hand back the server's reply
    DROP_REQUEST,     // read the request, reset without forwarding it
    DROP_REPLY,       // forward the request, close without the reply
    TRUNCATE_REPLY,   // forward the request, hand back half of the reply
    INVALID_VERSION,  // forward a commit with a baseline the server cannot
                      // hold, so it answers "INVALID_VERSION" with its tree
    REPLY,            // answer with `reply` instead of asking the server
};

struct proxy_action_t {
    fault_enum fault = fault_enum::NONE;
    Core_Server::sync_reply_t reply;  // for REPLY
};

// One request as the proxy saw it, and what it did.
struct proxied_t {
    Core_Server::sync_request_t request;  // action, user, baseline, tree
    fault_enum fault = fault_enum::NONE;
};

class fault_proxy_t {
public:
    // Decides what to do with a request; runs on the proxy's thread, one
    // connection at a time. Without a rule every request is forwarded.
    using rule_t = std::function<proxy_action_t(const Core_Server::sync_request_t& request)>;

    // Listens on `address` (a loopback address) in front of the server on
    // 127.0.0.1:`server_port`.
    fault_proxy_t(std::uint16_t server_port, const std::string& address = "127.0.0.1")
        : m_server_port(server_port),
          m_address(address),
          m_peer(std::make_unique<Core_Socket::testing::ScriptedPeer>(
              [this](Core_Socket::testing::PeerConnection& c) { serve(c); }, address)) {}

    // The --server text that reaches the proxy.
    std::string server() const {
        const std::string host =
            m_address.find(':') == std::string::npos ? m_address : "[" + m_address + "]";
        return host + ":" + std::to_string(m_peer->port());
    }

    void set_rule(rule_t rule) {
        std::lock_guard<std::mutex> guard(m_lock);
        m_rule = std::move(rule);
    }
    // Everything proxied so far, oldest first.
    std::vector<proxied_t> seen() const {
        std::lock_guard<std::mutex> guard(m_lock);
        return m_seen;
    }

private:
    void serve(Core_Socket::testing::PeerConnection& c) {
        rule_t rule;
        {
            std::lock_guard<std::mutex> guard(m_lock);
            rule = m_rule;
        }
        std::string raw = c.read_request();
        Core_Server::request_envelope_t envelope;
        Core_Server::sync_request_t request;
        if (Core_Server::parse_request_header(raw, envelope) !=
                Core_Server::envelope_parse_enum::COMPLETE ||
            !Core_Server::read_sync_request(std::string_view(raw).substr(envelope.header_size),
                                            request)) {
            c.reset();
            return;
        }
        proxy_action_t action = rule ? rule(request) : proxy_action_t{};
        // An overwrite stores whatever its baseline: there is nothing to
        // make it refuse.
        if (action.fault == fault_enum::INVALID_VERSION &&
            (request.action != Core_Server::sync_action_enum::COMMIT || request.overwrite)) {
            action.fault = fault_enum::NONE;
        }
        record(request, action.fault);
        switch (action.fault) {
            case fault_enum::DROP_REQUEST:
                c.reset();
                return;
            case fault_enum::REPLY: {
                std::string body;
                if (Core_Server::write_sync_reply(action.reply, body)) {
                    c.write(Core_Server::make_reply(envelope, body));
                }
                c.close();
                return;
            }
            case fault_enum::INVALID_VERSION: {
                Core_Server::sync_request_t changed = request;
                changed.baseline = 0x7FFFFFF0;
                std::string body;
                if (!Core_Server::write_sync_request(changed, body)) {
                    c.reset();
                    return;
                }
                raw = Core_Server::make_request(envelope.sequence, envelope.message_code,
                                                envelope.header_text, body);
                break;
            }
            default:
                break;
        }
        Core_Server::testing::client_t server(m_server_port);
        const std::string reply =
            server.connected() && server.send_all(raw) ? server.receive_all() : std::string();
        if (action.fault == fault_enum::DROP_REPLY || reply.empty()) {
            c.reset();
            return;
        }
        if (action.fault == fault_enum::TRUNCATE_REPLY) {
            c.write(reply.substr(0, reply.size() / 2));
            c.close();
            return;
        }
        c.write(reply);
        c.close();
    }

    void record(const Core_Server::sync_request_t& request, fault_enum fault) {
        std::lock_guard<std::mutex> guard(m_lock);
        m_seen.push_back({request, fault});
    }

    const std::uint16_t m_server_port;
    const std::string m_address;
    mutable std::mutex m_lock;
    rule_t m_rule;
    std::vector<proxied_t> m_seen;
    // Last: its thread uses everything above.
    std::unique_ptr<Core_Socket::testing::ScriptedPeer> m_peer;
};

// The tree the account holds on the server at `port` now (the empty tree
// when it holds none), asked for as an update from version 0 would.
inline Core_ZorvaneMerge::zorvane_node_t account_tree(std::uint16_t port, const std::string& user,
                                                      const std::string& password,
                                                      std::int32_t* version = nullptr) {
    Core_Server::sync_request_t request;
    request.action = Core_Server::sync_action_enum::UPDATE;
    request.user = user;
    request.password = password;
    request.peer_id = std::string(40, 'a');
    request.baseline = 0;
    std::string body;
    Core_ZorvaneMerge::zorvane_node_t tree;
    if (!Core_Server::write_sync_request(request, body)) return tree;
    Core_Server::testing::client_t client(port);
    if (!client.send_all(Core_Server::make_request(1, 0, "", body))) return tree;
    const std::string raw = client.receive_all();
    Core_Server::sync_reply_t reply;
    if (raw.size() < Core_Server::REPLY_HEADER_SIZE ||
        !Core_Server::read_sync_reply(std::string_view(raw).substr(Core_Server::REPLY_HEADER_SIZE),
                                      reply)) {
        ADD_FAILURE() << "the server's reply does not read";
        return tree;
    }
    if (reply.update) {
        Core_ZorvaneMerge::read_tree(reply.data, tree);
        if (version != nullptr) *version = reply.update->version;
    } else if (version != nullptr) {
        *version = 0;
    }
    return tree;
}

}  // namespace Zorvane_Cli::testing
