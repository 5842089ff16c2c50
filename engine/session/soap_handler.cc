#include "session/soap_handler.h"

#include <charconv>
#include <mutex>
#include <string_view>

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
    m_soap_servlet.clear();
    if (parse_server_address(address, default_port, servlet.m_host, servlet.m_port,
                             &servlet.m_tls)) {
        servlet.m_list = this;
        m_soap_servlet.assign(1, servlet);
    }
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

bool parse_server_address(const std::string& full_address, std::uint16_t default_port,
                          std::string& host, std::uint16_t& port, bool* tls) {
    host.clear();
    port = default_port;
    if (tls != nullptr) *tls = false;
    constexpr std::string_view kTlsScheme = "tls://";
    std::string_view address = full_address;
    const bool secure = address.substr(0, kTlsScheme.size()) == kTlsScheme;
    if (secure) {
        if (tls == nullptr) return false;
        address.remove_prefix(kTlsScheme.size());
    }
    std::string name;
    std::string rest;
    if (!address.empty() && address[0] == '[') {
        const std::size_t close = address.find(']');
        if (close == std::string::npos) return false;
        name = address.substr(1, close - 1);
        rest = address.substr(close + 1);
        if (name.find_first_of("[]") != std::string::npos) return false;
        if (!rest.empty() && rest[0] != ':') return false;
    } else {
        const std::size_t colon = address.find(':');
        name = address.substr(0, colon);
        if (colon != std::string::npos) rest = address.substr(colon);
        if (name.find_first_of("[]") != std::string::npos) return false;
    }
    if (name.empty()) return false;
    std::uint16_t value = default_port;
    if (!rest.empty()) {
        // ":" then digits only, 1 to 65535.
        const std::string digits = rest.substr(1);
        const char* first = digits.data();
        const char* last = first + digits.size();
        auto [stop, error] = std::from_chars(first, last, value);
        if (digits.empty() || error != std::errc() || stop != last || value == 0 ||
            digits.find_first_not_of("0123456789") != std::string::npos) {
            return false;
        }
    }
    host = std::move(name);
    port = value;
    if (tls != nullptr) *tls = secure;
    return true;
}

}  // namespace Core_SOAPClient
