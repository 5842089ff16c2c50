// Internal to the session client (and its test seam): sessions and the
// operations that wait for them.
//
// A session (soap_wire_t) carries one request and its reply. The session of
// the engine, soap_hold_t, opens a link to its servlet through the wire layer
// (one TCP connection per session), writes the request when the link
// connects, parses the reply, and hands the body or an error to the waiting
// operation; it then destroys itself, which closes its connection at once.
//
// The operation (soap_async_operater_t) is the handler's current request. It
// turns the session's answer into a message on the main thread that calls the
// handler's on_reply or on_error, and is destroyed when the last message
// referring to it is gone (never from inside its own call).
//
// The seam: set_soap_transport replaces how sessions are made. A test
// transport makes sessions that never touch the network and answers them
// through the same operation and the same message queue as real sessions.
//
// Thread rule: main thread only.
#pragma once

#include <boost/system/error_code.hpp>
#include <cstdint>
#include <memory>
#include <string>

#include "common/message_token.h"
#include "common/service_error.h"
#include "common/timer_handle.h"
#include "session/soap_handler.h"

namespace Core_Wire {
class WireLinkLayer;
}

namespace Core_SOAPClient {

// What a session answers to.
class soap_wire_handler_t {
public:
    virtual ~soap_wire_handler_t() = default;
    // The reply body (valid during the call) and the server's IPv4 address.
    virtual void reply(const char* body, std::size_t size, std::uint32_t address) = 0;
    virtual void fail(const Core_Common::service_error_t& error,
                      const boost::system::error_code& ec) = 0;
};

class soap_wire_t {
public:
    soap_wire_t() = default;
    // Releases the link if the session still holds one.
    virtual ~soap_wire_t();
    soap_wire_t(const soap_wire_t&) = delete;
    soap_wire_t& operator=(const soap_wire_t&) = delete;

    // Stores the request and starts the session; `waiting` hears the answer.
    virtual void start(soap_wire_handler_t* waiting, std::string body, std::uint32_t message_code,
                       const std::string& header_text, std::uint8_t kind,
                       std::uint8_t priority) = 0;
    // Stops waiting, drops the request and destroys the session.
    virtual void cancel() = 0;
    // Destroys the session.
    virtual void release() = 0;
    // Wire events of the session's link.
    virtual void on_closed(Core_Wire::WireLinkLayer* link, const boost::system::error_code& ec) = 0;
    virtual void on_received(Core_Wire::WireLinkLayer* link, const char* data, std::size_t size,
                             std::int32_t& consumed) = 0;
    virtual void on_connected(Core_Wire::WireLinkLayer* link) = 0;
    virtual void on_connect_failed(Core_Wire::WireLinkLayer* link,
                                   const boost::system::error_code& ec) = 0;

    Core_Wire::WireLinkLayer* m_link = nullptr;
    soap_wire_handler_t* m_waiting = nullptr;
    std::string m_body;
    std::uint32_t m_message_code = 0;
    std::string m_header_text;
};

// The engine's session: one request over one link of the wire layer. It has
// a whole reply within session_reply_timeout_seconds of its start, or it
// fails: code 3 with the time-out's message while still connecting, code 4
// kReplyDeadlineText once connected (both with error 10060), and closes its
// connection. The deadline runs on the framework's timers; without a timer
// queue (some tests) there is none.
class soap_hold_t final : public soap_wire_t {
public:
    soap_hold_t(const soap_servlet_t& servlet, std::uint64_t sequence);

    void start(soap_wire_handler_t* waiting, std::string body, std::uint32_t message_code,
               const std::string& header_text, std::uint8_t kind, std::uint8_t priority) override;
    void cancel() override;
    void release() override;
    void on_closed(Core_Wire::WireLinkLayer* link, const boost::system::error_code& ec) override;
    void on_received(Core_Wire::WireLinkLayer* link, const char* data, std::size_t size,
                     std::int32_t& consumed) override;
    void on_connected(Core_Wire::WireLinkLayer* link) override;
    void on_connect_failed(Core_Wire::WireLinkLayer* link,
                           const boost::system::error_code& ec) override;

    soap_servlet_t m_servlet;
    std::uint64_t m_sequence;

private:
    void on_deadline();

    bool m_connected = false;
    Core_Common::TimerHandle m_deadline;
};

class soap_async_operater_t final : public soap_wire_handler_t,
                                    public std::enable_shared_from_this<soap_async_operater_t> {
public:
    soap_async_operater_t(soap_connection_t* connection, soap_wire_t* session);
    ~soap_async_operater_t() override;

    void reply(const char* body, std::size_t size, std::uint32_t address) override;
    void fail(const Core_Common::service_error_t& error,
              const boost::system::error_code& ec) override;

    // Detaches the operation from its handler: cancels a session that has
    // not answered and drops the operation's queued messages. The caller
    // holds a reference; the operation never calls its handler afterwards.
    void dispose();

    soap_wire_t* session() const { return m_session; }

private:
    soap_connection_t* m_connection;
    soap_wire_t* m_session;
    Core_Common::MessageToken m_token;
    bool m_disposed = false;
};

// How sessions are made.
class soap_transport_t {
public:
    virtual ~soap_transport_t() = default;
    // A new session for `servlet` carrying sequence number `sequence`.
    virtual soap_wire_t* create_session(const soap_servlet_t& servlet, std::uint64_t sequence) = 0;
};

// Replaces the transport (nullptr: sessions over the wire layer). The
// transport must outlive every session it made.
void set_soap_transport(soap_transport_t* transport);
soap_transport_t* soap_transport();

// The wide texts of the session outcomes.
inline constexpr const char16_t* kUnexpectedDisconnectText = u"Unexpected Disconnect";
inline constexpr const char16_t* kReplyDeadlineText = u"Reply Deadline Passed.";
inline constexpr const char16_t* kReplyTooLargeText = u"Reply Too Large.";

}  // namespace Core_SOAPClient
