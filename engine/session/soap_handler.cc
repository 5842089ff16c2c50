#include "session/soap_handler.h"

#include <charconv>
#include <mutex>

#include "session/soap_session.h"

namespace Core_SOAPClient {
namespace {

// Guards every handler's servlet list.
std::recursive_mutex& servlet_lock() {
    static auto* lock = new std::recursive_mutex;
    return *lock;
}

class wire_transport_t final : public soap_transport_t {
public:
    soap_wire_t* create_session(const soap_servlet_t& servlet, std::uint64_t sequence) override {
        return new soap_hold_t(servlet, sequence);
    }
};

soap_transport_t& current_transport() {
    static wire_transport_t wire_transport;
    soap_transport_t* replaced = soap_transport();
    return replaced != nullptr ? *replaced : wire_transport;
}

}  // namespace

InterfaceSOAPClientHandler::~InterfaceSOAPClientHandler() = default;

InterfaceSOAPClientSimpleHandler::InterfaceSOAPClientSimpleHandler() {
    m_connection = std::make_unique<soap_connection_t>();
    m_connection->m_handler = this;
    m_connection->m_servlets = &m_soap_servlet;
}

InterfaceSOAPClientSimpleHandler::~InterfaceSOAPClientSimpleHandler() { dispose_current(); }

void InterfaceSOAPClientSimpleHandler::dispose_current() {
    std::shared_ptr<soap_async_operater_t> current = m_connection->m_current;
    if (current) {
        current->dispose();
    }
}

void InterfaceSOAPClientSimpleHandler::set_server(const std::string& address,
                                                  std::uint16_t default_port, std::uint8_t kind,
                                                  std::uint8_t priority) {
    std::lock_guard<std::recursive_mutex> guard(servlet_lock());
    m_list_id = 0;
    soap_servlet_t servlet;
    parse_server_address(address, default_port, servlet.m_host, servlet.m_port);
    servlet.m_list = this;
    m_soap_servlet.assign(1, servlet);
    m_connection->m_kind = kind;
    m_connection->m_priority = priority;
}

void InterfaceSOAPClientSimpleHandler::send(const std::string& body, std::uint32_t message_code,
                                            std::uint32_t mailslot_id,
                                            const std::string& header_text) {
    send(std::string(body), message_code, mailslot_id, header_text);
}

void InterfaceSOAPClientSimpleHandler::send(std::string&& body, std::uint32_t message_code,
                                            std::uint32_t mailslot_id,
                                            const std::string& header_text) {
    dispose_current();
    std::shared_ptr<soap_async_operater_t> operation;
    soap_wire_t* session = nullptr;
    {
        std::lock_guard<std::recursive_mutex> guard(servlet_lock());
        if (m_soap_servlet.empty()) {
            on_error(Core_Common::service_error_t{Core_Common::SERVICE_BUSY, kNoServletText},
                     boost::system::error_code());
            return;
        }
        if (mailslot_id >= m_soap_servlet.size()) {
            throw std::u16string(u"mailslot_id >= m_soap_servlet.size()");
        }
        ++m_sequence_counter;
        session =
            current_transport().create_session(m_soap_servlet[mailslot_id], m_sequence_counter);
        operation = std::make_shared<soap_async_operater_t>(m_connection.get(), session);
        m_connection->m_current = operation;
    }
    session->start(operation.get(), std::move(body), message_code, header_text,
                   m_connection->m_kind, m_connection->m_priority);
}

void InterfaceSOAPClientSimpleHandler::cancel() { dispose_current(); }

bool InterfaceSOAPClientSimpleHandler::busy() const { return m_connection->m_current != nullptr; }

void parse_server_address(const std::string& address, std::uint16_t default_port, std::string& host,
                          std::uint16_t& port) {
    std::vector<std::string> pieces;
    std::size_t begin = 0;
    for (;;) {
        const std::size_t colon = address.find(':', begin);
        const bool last = colon == std::string::npos;
        std::string piece = address.substr(begin, last ? std::string::npos : colon - begin);
        if (!piece.empty() || last) {
            pieces.push_back(std::move(piece));
        }
        if (last) {
            break;
        }
        begin = colon + 1;
    }
    host = pieces.empty() ? std::string() : pieces[0];
    port = default_port;
    if (pieces.size() < 2) {
        return;
    }
    const std::string& text = pieces[1];
    const std::size_t start = text.find_first_of("-0123456789.");
    if (start == std::string::npos) {
        return;
    }
    std::size_t end = text.find_first_not_of("0123456789.", start + 1);
    if (end == std::string::npos) {
        end = text.size();
    }
    const std::string number = text.substr(start, end - start);
    std::uint16_t value = 0;
    const char* first = number.data();
    const char* last = number.data() + number.size();
    auto [stop, error] = std::from_chars(first, last, value);
    if (error == std::errc() && stop != first) {
        port = value;
    }
}

}  // namespace Core_SOAPClient
