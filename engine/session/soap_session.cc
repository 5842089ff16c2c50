#include "session/soap_session.h"

#include <algorithm>

#include "common/main_thread.h"
#include "common/timer_queue.h"
#include "platform/socket_errors.h"
#include "platform/strings.h"
#include "session/session_format.h"
#include "session/session_settings.h"
#include "wire/wire_link.h"
#include "wire/wire_link_pool.h"
#include "wire/wire_module.h"

namespace Core_SOAPClient {
namespace {
soap_transport_t* g_transport = nullptr;
}  // namespace

void set_soap_transport(soap_transport_t* transport) { g_transport = transport; }
soap_transport_t* soap_transport() { return g_transport; }

soap_wire_t::~soap_wire_t() {
    if (m_link != nullptr) {
        Core_Wire::link_release(this, m_link);
    }
}

soap_hold_t::soap_hold_t(const soap_servlet_t& servlet, std::uint64_t sequence)
    : m_servlet(servlet), m_sequence(sequence) {}

void soap_hold_t::start(soap_wire_handler_t* waiting, std::string body, std::uint32_t message_code,
                        const std::string& header_text, std::uint8_t kind, std::uint8_t priority) {
    Core_Common::expect_main_thread();
    m_waiting = waiting;
    m_message_code = message_code;
    m_header_text = header_text;
    m_body = std::move(body);
    if (Core_Wire::InterfaceWire::is_stopping()) {
        return;
    }
    // Timers take at most 2^31 - 1 ms; longer is no deadline in practice.
    const std::int32_t seconds = std::min(session_reply_timeout_seconds.load(), 2000000);
    if (seconds > 0 && Core_Common::TimerQueue::current() != nullptr) {
        m_deadline.schedule(static_cast<std::uint32_t>(seconds) * 1000u, 0,
                            "session reply deadline", [this] { on_deadline(); });
    }
    Core_Wire::connect_link(static_cast<soap_wire_t*>(this), m_link, m_servlet.m_host,
                            m_servlet.m_port, kind, priority != 0, m_servlet.m_tls);
}

void soap_hold_t::cancel() {
    Core_Common::expect_main_thread();
    m_waiting = nullptr;
    m_body.clear();
    delete this;  // releases the link: the connection closes at once
}

void soap_hold_t::release() { delete this; }

void soap_hold_t::on_closed(Core_Wire::WireLinkLayer* /*link*/,
                            const boost::system::error_code& ec) {
    Core_Common::expect_main_thread();
    if (m_link == nullptr) {
        return;
    }
    m_link = nullptr;  // the link is closing down; nothing to release
    if (m_waiting != nullptr) {
        soap_wire_handler_t* waiting = m_waiting;
        m_waiting = nullptr;
        waiting->fail(Core_Common::service_error_t{Core_Common::SERVICE_PROTOCOL_ERROR,
                                                   kUnexpectedDisconnectText},
                      ec);
    }
    delete this;
}

void soap_hold_t::on_received(Core_Wire::WireLinkLayer* /*link*/, const char* data,
                              std::size_t size, std::int32_t& consumed) {
    Core_Common::expect_main_thread();
    bool delivered = false;
    consumed = parse_reply(*this, data, size, delivered);
    if (delivered) {
        cancel();
    }
}

void soap_hold_t::on_deadline() {
    Core_Common::expect_main_thread();
    if (m_waiting == nullptr) {
        return;  // answered already; the session goes with its link
    }
    soap_wire_handler_t* waiting = m_waiting;
    m_waiting = nullptr;
    const boost::system::error_code timed_out =
        Core_Platform::make_socket_error(Core_Platform::SOCKET_ERROR_TIMED_OUT);
    if (m_connected) {
        waiting->fail(
            Core_Common::service_error_t{Core_Common::SERVICE_PROTOCOL_ERROR, kReplyDeadlineText},
            timed_out);
    } else {
        waiting->fail(
            Core_Common::service_error_t{Core_Common::SERVICE_CONNECT_FAILED,
                                         Core_Platform::ansi_to_wide(timed_out.message())},
            timed_out);
    }
    m_body.clear();
    delete this;  // releases the link: the connection closes at once
}

void soap_hold_t::on_connected(Core_Wire::WireLinkLayer* /*link*/) {
    Core_Common::expect_main_thread();
    m_connected = true;
    if (m_waiting != nullptr) {
        write_request(*this);
    }
}

void soap_hold_t::on_connect_failed(Core_Wire::WireLinkLayer* /*link*/,
                                    const boost::system::error_code& ec) {
    Core_Common::expect_main_thread();
    if (m_waiting != nullptr) {
        soap_wire_handler_t* waiting = m_waiting;
        m_waiting = nullptr;
        waiting->fail(Core_Common::service_error_t{Core_Common::SERVICE_CONNECT_FAILED,
                                                   Core_Platform::ansi_to_wide(ec.message())},
                      ec);
    }
}

soap_async_operater_t::soap_async_operater_t(soap_connection_t* connection, soap_wire_t* session)
    : m_connection(connection), m_session(session) {}

soap_async_operater_t::~soap_async_operater_t() {
    // A session still waiting for us must not answer into freed memory.
    if (m_session != nullptr) {
        soap_wire_t* session = m_session;
        m_session = nullptr;
        session->cancel();
    }
}

void soap_async_operater_t::reply(const char* body, std::size_t size, std::uint32_t address) {
    m_session = nullptr;
    Core_Common::soap_client_received_t received;
    received.m_address = address;
    received.m_body.assign(body, size);
    m_token.post([self = shared_from_this(), received = std::move(received)] {
        if (self->m_disposed) {
            return;
        }
        InterfaceSOAPClientHandler* handler = self->m_connection->m_handler;
        self->dispose();
        handler->on_reply(received);
    });
}

void soap_async_operater_t::fail(const Core_Common::service_error_t& error,
                                 const boost::system::error_code& ec) {
    m_session = nullptr;
    m_token.post([self = shared_from_this(), error, ec] {
        if (self->m_disposed) {
            return;
        }
        InterfaceSOAPClientHandler* handler = self->m_connection->m_handler;
        self->dispose();
        handler->on_error(error, ec);
    });
}

void soap_async_operater_t::dispose() {
    if (m_disposed) {
        return;
    }
    m_disposed = true;
    if (m_session != nullptr) {
        soap_wire_t* session = m_session;
        m_session = nullptr;
        session->cancel();
    }
    if (m_connection->m_current.get() == this) {
        // The caller holds its own reference, so this does not destroy us.
        m_connection->m_current.reset();
    }
    m_token.cancel_all();
}

}  // namespace Core_SOAPClient
