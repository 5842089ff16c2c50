#include "session/scripted_transport_testing.h"

#include <algorithm>

namespace Core_SOAPClient {

class scripted_transport_t::session_t final : public soap_wire_t {
public:
    session_t(scripted_transport_t& transport, const soap_servlet_t& servlet,
              std::uint64_t sequence)
        : m_transport(&transport), m_servlet(servlet), m_sequence(sequence) {}

    ~session_t() override {
        if (m_transport != nullptr) {
            auto& open = m_transport->m_open;
            open.erase(std::remove(open.begin(), open.end(), this), open.end());
        }
    }

    // The transport is going away; the session stays until its operation
    // lets go of it.
    void orphan() { m_transport = nullptr; }

    void start(soap_wire_handler_t* waiting, std::string body, std::uint32_t message_code,
               const std::string& header_text, std::uint8_t, std::uint8_t) override {
        m_waiting = waiting;
        request_t request;
        request.m_host = m_servlet.m_host;
        request.m_port = m_servlet.m_port;
        request.m_sequence = m_sequence;
        request.m_message_code = message_code;
        request.m_header_text = header_text;
        request.m_body = std::move(body);
        if (m_transport != nullptr) {
            m_transport->m_requests.push_back(std::move(request));
            m_transport->m_open.push_back(this);
        }
    }
    void cancel() override {
        m_waiting = nullptr;
        delete this;
    }
    void release() override { delete this; }
    // A scripted session has no link, so no wire event ever reaches it.
    void on_closed(Core_Wire::WireLinkLayer*, const boost::system::error_code&) override {}
    void on_received(Core_Wire::WireLinkLayer*, const char*, std::size_t,
                     std::int32_t& consumed) override {
        consumed = -1;
    }
    void on_connected(Core_Wire::WireLinkLayer*) override {}
    void on_connect_failed(Core_Wire::WireLinkLayer*, const boost::system::error_code&) override {}

    // Hands the answer to the waiting operation, then goes away like a real
    // session does.
    void answer_reply(const std::string& body, std::uint32_t address) {
        soap_wire_handler_t* waiting = m_waiting;
        m_waiting = nullptr;
        if (waiting != nullptr) waiting->reply(body.data(), body.size(), address);
        delete this;
    }
    void answer_fail(const Core_Common::service_error_t& error,
                     const boost::system::error_code& ec) {
        soap_wire_handler_t* waiting = m_waiting;
        m_waiting = nullptr;
        if (waiting != nullptr) waiting->fail(error, ec);
        delete this;
    }

private:
    scripted_transport_t* m_transport;
    soap_servlet_t m_servlet;
    std::uint64_t m_sequence;
};

scripted_transport_t::scripted_transport_t() { set_soap_transport(this); }

scripted_transport_t::~scripted_transport_t() {
    for (session_t* session : m_open) {
        session->orphan();
    }
    m_open.clear();
    if (soap_transport() == this) {
        set_soap_transport(nullptr);
    }
}

soap_wire_t* scripted_transport_t::create_session(const soap_servlet_t& servlet,
                                                  std::uint64_t sequence) {
    return new session_t(*this, servlet, sequence);
}

bool scripted_transport_t::reply(const std::string& body, std::uint32_t address) {
    if (m_open.empty()) return false;
    m_open.front()->answer_reply(body, address);
    return true;
}

bool scripted_transport_t::fail(const Core_Common::service_error_t& error,
                                const boost::system::error_code& ec) {
    if (m_open.empty()) return false;
    m_open.front()->answer_fail(error, ec);
    return true;
}

bool scripted_transport_t::disconnect(const boost::system::error_code& ec) {
    return fail(Core_Common::service_error_t{Core_Common::SERVICE_PROTOCOL_ERROR,
                                             kUnexpectedDisconnectText},
                ec);
}

}  // namespace Core_SOAPClient
