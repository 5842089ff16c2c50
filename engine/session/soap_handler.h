// Public engine surface: the caller's side of the session client.
//
// A caller of the server derives from InterfaceSOAPClientSimpleHandler,
// configures its server with set_server and sends request bodies with send.
// Each send becomes one session: one TCP connection to the server carrying
// the request in its envelope (session/session_format.h) and its reply.
//
// Outcomes reach the caller only through on_reply or on_error, once per
// session, always as a message on the main thread inside the framework's
// pump and never from inside send, with one exception: with no server
// configured, send reports code 2 "Not Available SOAP Connection." to
// on_error directly before returning. A new send, cancel, or the handler's
// destruction abandons the current session silently (its connection is
// closed at once and no callback follows).
//
// on_error outcomes (service_error_t codes, common/service_error.h):
//   2 "Not Available SOAP Connection."  no servlet configured (no-error code)
//   3 the system message of the error   the connect failed (the socket error)
//   4 "Unexpected Disconnect"           the connection closed before a whole
//                                       reply (the close's error: 10060 after
//                                       the inactivity time-out, end of file
//                                       when the server closed first, ...)
//   4 "Invalid SOAP Protocol Header.", "Invalid SOAP Protocol Version.",
//     "Invalid SOAP Session."           the reply failed a check (no-error)
//
// Thread rule: every operation, and every callback, runs on the main thread.
// The servlet lists of all handlers share one process-wide lock, held while a
// list is rebuilt and while a session is created from it.
#pragma once

#include <boost/system/error_code.hpp>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "common/service_error.h"
#include "session/soap_client_received.h"

namespace Core_SOAPClient {

class InterfaceSOAPClientSimpleHandler;
class soap_async_operater_t;
class InterfaceSOAPClientHandler;

// One server endpoint; its index in the handler's list is its mailslot_id.
struct soap_servlet_t {
    std::string m_host;
    std::uint16_t m_port = 0;
    InterfaceSOAPClientSimpleHandler* m_list = nullptr;
    bool m_tls = false;  // "tls://": the sessions run over TLS
};

// The connection state of a handler, created with it and destroyed with it.
struct soap_connection_t {
    std::vector<soap_servlet_t>* m_servlets = nullptr;
    // The current operation; empty when none.
    std::shared_ptr<soap_async_operater_t> m_current;
    InterfaceSOAPClientHandler* m_handler = nullptr;
    std::uint8_t m_priority = 0;  // non-zero: the link is queued at the front
    std::uint8_t m_kind = 0;      // the wire layer's caller kind
};

class InterfaceSOAPClientHandler {
public:
    InterfaceSOAPClientHandler() = default;
    virtual ~InterfaceSOAPClientHandler();
    InterfaceSOAPClientHandler(const InterfaceSOAPClientHandler&) = delete;
    InterfaceSOAPClientHandler& operator=(const InterfaceSOAPClientHandler&) = delete;

    // The server's reply to the current session.
    virtual void on_reply(const Core_Common::soap_client_received_t& received) = 0;
    // The current session failed: the session error and the accompanying
    // error code (see the table above).
    virtual void on_error(const Core_Common::service_error_t& error,
                          const boost::system::error_code& ec) = 0;

protected:
    // Created by the derived class.
    std::unique_ptr<soap_connection_t> m_connection;
};

class InterfaceSOAPClientSimpleHandler : public InterfaceSOAPClientHandler {
public:
    // The texts of the caller-visible outcomes.
    static constexpr const char16_t* kNoServletText = u"Not Available SOAP Connection.";

    InterfaceSOAPClientSimpleHandler();
    // Abandons the current session, if any.
    ~InterfaceSOAPClientSimpleHandler() override;

    // Replaces the servlet list by the one server in `address`
    // (parse_server_address; an address it refuses leaves the list empty)
    // and keeps `kind` and `priority` for its sessions.
    void set_server(const std::string& address, std::uint16_t default_port, std::uint8_t kind,
                    std::uint8_t priority);

    // Abandons the current session, then starts one that sends `body` to the
    // servlet `mailslot_id`. A mailslot_id outside the list throws the wide
    // text "mailslot_id >= m_soap_servlet.size()" (std::u16string) and starts
    // nothing.
    void send(const std::string& body, std::uint32_t message_code = 0,
              std::uint32_t mailslot_id = 0, const std::string& header_text = std::string());
    // The same, taking the body over (a body of tens of megabytes is not
    // copied).
    void send(std::string&& body, std::uint32_t message_code = 0, std::uint32_t mailslot_id = 0,
              const std::string& header_text = std::string());

    // Abandons the current session, if any.
    void cancel();

    // True while a session is current (started and not yet answered).
    bool busy() const;
    const std::vector<soap_servlet_t>& servlets() const { return m_soap_servlet; }
    // The last sequence number given to a session (0 before the first).
    std::uint64_t sequence_counter() const { return m_sequence_counter; }

private:
    void dispose_current();

    std::uint32_t m_list_id = 0;
    std::vector<soap_servlet_t> m_soap_servlet;
    std::uint64_t m_sequence_counter = 0;
};

// The server address rule of set_server: "HOST", "HOST:PORT", "[IPV6]" or
// "[IPV6]:PORT" (an IPv6 literal in brackets, given on without them), each
// optionally after "tls://" (the sessions then run over TLS, and `*tls` is
// set; without `tls` such an address is refused, so no caller that ignores
// the scheme talks clear text to a server meant for TLS). PORT
// is 1 to 65535 in decimal digits alone; without it the port is
// `default_port`. Returns false, with `host` empty and `port` the default,
// for anything else: an empty host, a port that is empty or not such a
// number ("80.5", "x", "0", "70000"), an unclosed bracket, or a colon in a
// host without brackets (an IPv6 literal needs them). set_server then keeps
// no server, so every request fails without reaching anyone.
bool parse_server_address(const std::string& address, std::uint16_t default_port, std::string& host,
                          std::uint16_t& port, bool* tls = nullptr);

}  // namespace Core_SOAPClient
