// Internal to the server: what the network side hands to the request logic,
// and what it gets back.
//
// The TCP server (tcp_server.h) receives one whole request per connection,
// checks its envelope (session_envelope.h), and calls an
// InterfaceRequestHandler with it on one of its threads; the handler's reply
// body goes back in a reply envelope, and the fields it names go into the
// request's log line.
#pragma once

#include <chrono>
#include <string>

#include "session_envelope.h"

namespace Core_Server {

struct request_t {
    std::string peer_address;  // the client's IP address, as text
    std::string peer;          // address and port, for the log
    request_envelope_t envelope;
    std::string body;
    // The server is over one of its limits: answer at once, without
    // touching the store.
    bool busy = false;
    // The connection came over TLS.
    bool tls = false;
};

struct reply_t {
    std::string body;
    // For the log line: who asked, for what, and the outcome; empty fields
    // are logged as "-".
    std::string user;
    std::string action;
    std::string result;
    // Send the reply no sooner than this after the handler returns (a
    // refusal made to take as long as a checked one).
    std::chrono::milliseconds hold{0};
};

class InterfaceRequestHandler {
public:
    virtual ~InterfaceRequestHandler() = default;

    // Answers one request. Called on the server's worker threads, for
    // different requests at the same time, so it must be thread-safe; it
    // may block (on the store) for as long as the request needs. It must not
    // throw. A busy request is answered on a network thread: at once.
    virtual void handle(const request_t& request, reply_t& reply) = 0;
};

}  // namespace Core_Server
