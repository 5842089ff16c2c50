#include "socket/udp_service.h"

#include <boost/asio/post.hpp>
#include <chrono>
#include <thread>

#include "socket/socket_module.h"
#include "socket/socket_settings.h"

namespace Core_Socket {

namespace asio = boost::asio;
using boost::system::error_code;

udp_service::udp_service() : m_socket(m_context.context()), m_resolver(m_context.context()) {}

udp_service::~udp_service() {
    stop_threads();
    close();
}

void udp_service::start() { m_context.start(1, "SocketUDP"); }

void udp_service::stop_threads() { m_context.stop(); }

bool udp_service::open(const std::string& address, std::uint16_t port) {
    std::lock_guard<std::recursive_mutex> guard(m_lock);
    if (m_open) {
        return true;
    }
    error_code ec;
    asio::ip::address local = asio::ip::make_address(address, ec);
    if (ec || !local.is_v4()) {
        return false;
    }
    m_socket.open(asio::ip::udp::v4(), ec);
    if (!ec) {
        m_socket.bind(asio::ip::udp::endpoint(local, port), ec);
    }
    if (ec) {
        error_code ignored;
        m_socket.close(ignored);
        return false;
    }
    m_open = true;
    asio::post(m_context.context(), [this] { receive(); });
    return true;
}

std::uint16_t udp_service::local_port() {
    std::lock_guard<std::recursive_mutex> guard(m_lock);
    if (!m_open) {
        return 0;
    }
    error_code ec;
    auto local = m_socket.local_endpoint(ec);
    return ec ? 0 : local.port();
}

void udp_service::close() {
    std::lock_guard<std::recursive_mutex> guard(m_lock);
    if (m_open) {
        error_code ignored;
        m_socket.close(ignored);
        m_open = false;
    }
}

void udp_service::send() {
    asio::post(m_context.context(), [this] {
        std::lock_guard<std::recursive_mutex> guard(m_lock);
        if (m_open && !m_sending) {
            m_sending = true;
            pump();
        }
    });
}

void udp_service::pump() {
    InterfaceSocketCallback* callback = InterfaceSocket::tcp_callback();
    m_current.reset();
    if (callback != nullptr) {
        callback->get_udp_datagram(m_current);
    }
    if (!m_current) {
        m_sending = false;
        return;
    }
    const std::int64_t interval = udp_min_send_interval.load();
    if (interval != 0) {
        const std::int64_t elapsed = m_last_send.elapsed_milliseconds();
        if (elapsed < interval) {
            std::this_thread::sleep_for(std::chrono::milliseconds(interval - elapsed));
        }
        m_last_send.reset();
    }
    error_code ec;
    asio::ip::address numeric = asio::ip::make_address(m_current->host, ec);
    if (!ec) {
        send_current(asio::ip::udp::endpoint(numeric, m_current->port));
        return;
    }
    m_resolver.async_resolve(
        m_current->host, std::to_string(m_current->port),
        [this](const error_code& resolve_error, asio::ip::udp::resolver::results_type results) {
            std::lock_guard<std::recursive_mutex> guard(m_lock);
            if (resolve_error || results.empty()) {
                on_send_done(resolve_error ? resolve_error : asio::error::host_not_found);
                return;
            }
            send_current(results.begin()->endpoint());
        });
}

void udp_service::send_current(const asio::ip::udp::endpoint& target) {
    udp_datagram_ptr datagram = m_current;
    m_socket.async_send_to(asio::buffer(datagram->bytes), target,
                           [this, datagram](const error_code& ec, std::size_t) {
                               std::lock_guard<std::recursive_mutex> guard(m_lock);
                               on_send_done(ec);
                           });
}

void udp_service::on_send_done(const error_code& ec) {
    if (ec == asio::error::operation_aborted || !m_open) {
        m_sending = false;
        return;
    }
    pump();
}

void udp_service::receive() {
    std::lock_guard<std::recursive_mutex> guard(m_lock);
    if (!m_open) {
        return;
    }
    m_socket.async_receive_from(
        asio::buffer(m_receive_buffer), m_sender, [this](const error_code& ec, std::size_t n) {
            if (ec) {
                return;  // closed, or the context stopped
            }
            auto datagram = std::make_shared<udp_datagram_t>();
            datagram->host = m_sender.address().to_string();
            datagram->port = m_sender.port();
            datagram->bytes.assign(m_receive_buffer, n);
            if (InterfaceSocketCallback* callback = InterfaceSocket::tcp_callback()) {
                callback->on_udp_received(datagram);
            }
            receive();
        });
}

}  // namespace Core_Socket
