// Test support (tests of session-client callers only): a transport
// whose sessions are answered by the test instead of a server.
//
// While a scripted_transport_t exists, every send of every handler makes a
// scripted session: the request is recorded and nothing touches the network.
// The test then answers the oldest open session with reply, fail or
// disconnect. The answer travels the way a server's does: through the
// handler's operation and the real message queue, so the handler hears
// on_reply or on_error inside the next pump, never from inside the answering
// call. Sessions abandoned by a new send, cancel or the handler's destruction
// leave the open list silently.
//
// Thread rule: main thread only. One transport at a time; it must outlive the
// sessions it answers; sessions still open when it goes away simply never
// answer (their handlers can still cancel them).
#pragma once

#include <boost/system/error_code.hpp>
#include <cstdint>
#include <deque>
#include <string>
#include <vector>

#include "common/service_error.h"
#include "session/soap_session.h"

namespace Core_SOAPClient {

class scripted_transport_t final : public soap_transport_t {
public:
    struct request_t {
        std::string m_host;
        std::uint16_t m_port = 0;
        std::uint64_t m_sequence = 0;
        std::uint32_t m_message_code = 0;
        std::string m_header_text;
        std::string m_body;
    };

    // Installs itself as the session transport.
    scripted_transport_t();
    // Restores the wire transport; open sessions stay unanswered.
    ~scripted_transport_t() override;

    soap_wire_t* create_session(const soap_servlet_t& servlet, std::uint64_t sequence) override;

    // Every request sent so far, oldest first.
    const std::vector<request_t>& requests() const { return m_requests; }
    // Sessions started and not yet answered or abandoned.
    std::size_t open_sessions() const { return m_open.size(); }

    // Answers the oldest open session; false when none is open.
    bool reply(const std::string& body, std::uint32_t address = 0x0100007Fu);
    bool fail(const Core_Common::service_error_t& error, const boost::system::error_code& ec);
    // As if the server closed before a whole reply: code 4
    // "Unexpected Disconnect" with `ec`.
    bool disconnect(const boost::system::error_code& ec);

private:
    class session_t;
    friend class session_t;

    std::vector<request_t> m_requests;
    std::deque<session_t*> m_open;
};

}  // namespace Core_SOAPClient
