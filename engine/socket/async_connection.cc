#include "socket/async_connection.h"

#include <algorithm>
#include <boost/asio/bind_executor.hpp>
#include <boost/asio/error.hpp>
#include <boost/asio/post.hpp>
#include <boost/asio/write.hpp>
#include <random>

#include "platform/socket_errors.h"
#include "socket/async_service.h"
#include "socket/host_table.h"
#include "socket/socket_callback.h"
#include "socket/socket_module.h"
#include "socket/tls_context.h"
#include "socket/tls_trust.h"

namespace Core_Socket {

namespace asio = boost::asio;
using boost::system::error_code;

namespace {

// A random delay of 1 to 49 milliseconds (in microseconds) for the allowance
// retries. The socket clock counts whole milliseconds, so anything shorter
// would be due at once and the retry would spin a core.
std::int64_t retry_delay_us() {
    thread_local std::minstd_rand generator{std::random_device{}()};
    return (static_cast<std::int64_t>(generator() % 49) + 1) * 1000;
}

bool is_operation_aborted(const error_code& ec) { return ec == asio::error::operation_aborted; }

}  // namespace

error_code to_socket_error(const error_code& ec) {
    if (!ec) {
        return error_code();
    }
    if (ec.category() == boost::system::system_category() ||
        ec.category() == boost::system::generic_category()) {
        return Core_Platform::make_socket_error(
            Core_Platform::socket_error_number(Core_Platform::SOCKET_SOURCE_ERRNO, ec.value()));
    }
    if (ec.category() == asio::error::get_netdb_category()) {
        return Core_Platform::make_socket_error(
            Core_Platform::socket_error_number(Core_Platform::SOCKET_SOURCE_NETDB, ec.value()));
    }
    if (ec.category() == asio::error::get_addrinfo_category()) {
        return Core_Platform::make_socket_error(
            Core_Platform::socket_error_number(Core_Platform::SOCKET_SOURCE_ADDRINFO, ec.value()));
    }
    return ec;  // end of file and the rest of the "misc" codes
}

std::uint32_t ipv4_network_value(const asio::ip::address& address) {
    error_code ec;
    asio::ip::address_v4 v4 = asio::ip::make_address_v4(address.to_string(), ec);
    if (ec) {
        return 0;
    }
    asio::ip::address_v4::bytes_type bytes = v4.to_bytes();
    std::uint32_t value = 0;
    static_assert(sizeof(value) == sizeof(bytes));
    std::copy(bytes.begin(), bytes.end(), reinterpret_cast<unsigned char*>(&value));
    return value;
}

async_connection::async_connection(async_service& service, asio::io_context& context, void* user,
                                   std::int32_t timeout_seconds,
                                   std::int32_t connect_timeout_seconds)
    : m_service(service),
      m_socket(context),
      m_user(user),
      m_strand(asio::make_strand(context.get_executor())),
      m_timeout_timer(context.get_executor()),
      m_timeout_seconds(timeout_seconds),
      m_connect_timeout_seconds(connect_timeout_seconds),
      m_read_retry_timer(context.get_executor()),
      m_write_retry_timer(context.get_executor()) {}

async_connection::~async_connection() = default;

void async_connection::start_connect(const std::string& host, std::uint16_t port, bool tls) {
    asio::post(m_strand, [self = shared_from_this(), host, port, tls] {
        self->m_use_tls = tls;
        self->do_connect(host, port);
    });
}

template <class Buffers, class Handler>
void async_connection::read_some(const Buffers& buffers, Handler&& handler) {
    if (m_tls) {
        m_tls->async_read_some(buffers, std::forward<Handler>(handler));
    } else {
        m_socket.async_read_some(buffers, std::forward<Handler>(handler));
    }
}

template <class Buffers, class Handler>
void async_connection::write_all(const Buffers& buffers, Handler&& handler) {
    if (m_tls) {
        asio::async_write(*m_tls, buffers, std::forward<Handler>(handler));
    } else {
        asio::async_write(m_socket, buffers, std::forward<Handler>(handler));
    }
}

void async_connection::send() {
    asio::post(m_strand, [self = shared_from_this()] { self->pump_send(); });
}

void async_connection::close(const error_code& ec) {
    asio::post(m_strand, [self = shared_from_this(), ec] { self->do_close(ec); });
}

void async_connection::close_gracefully() {
    asio::post(m_strand, [self = shared_from_this()] {
        if (self->m_user == nullptr) {
            return;
        }
        error_code ignored;
        self->m_socket.shutdown(asio::ip::tcp::socket::shutdown_send, ignored);
        self->arm_timeout();
    });
}

void async_connection::do_connect(const std::string& host, std::uint16_t port) {
    if (m_user == nullptr) {
        return;
    }
    arm_connect_deadline();
    if (m_use_tls) {
        // The trust set is read before anything goes out: a CA file that
        // does not read fails the connection, never falls back.
        error_code trust_error;
        m_tls_context = client_tls_context(trust_error);
        if (!m_tls_context) {
            do_close(trust_error);
            return;
        }
        m_tls_host = host;
    }
    error_code parse_error;
    asio::ip::address numeric = asio::ip::make_address(host, parse_error);
    if (!parse_error) {
        auto endpoints = std::make_shared<std::vector<asio::ip::tcp::endpoint>>();
        endpoints->emplace_back(numeric, port);
        connect_at(std::move(endpoints), 0);
        return;
    }
    if (auto listed = host_table_lookup(host)) {
        auto endpoints = std::make_shared<std::vector<asio::ip::tcp::endpoint>>();
        for (const std::string& text : *listed) {
            error_code ec;
            asio::ip::address address = asio::ip::make_address(text, ec);
            if (!ec) {
                endpoints->emplace_back(address, port);
            }
        }
        if (endpoints->empty()) {
            do_close(Core_Platform::make_socket_error(Core_Platform::SOCKET_ERROR_HOST_NOT_FOUND));
            return;
        }
        connect_at(std::move(endpoints), 0);
        return;
    }
    m_resolver.emplace(m_socket.get_executor());
    m_resolver->async_resolve(
        host, std::to_string(port),
        asio::bind_executor(
            m_strand, [self = shared_from_this()](const error_code& ec,
                                                  asio::ip::tcp::resolver::results_type results) {
                if (self->m_user == nullptr) {
                    return;
                }
                if (ec) {
                    self->do_close(to_socket_error(ec));
                    return;
                }
                auto endpoints = std::make_shared<std::vector<asio::ip::tcp::endpoint>>();
                for (const auto& entry : results) {
                    endpoints->push_back(entry.endpoint());
                }
                if (endpoints->empty()) {
                    self->do_close(Core_Platform::make_socket_error(
                        Core_Platform::SOCKET_ERROR_HOST_NOT_FOUND));
                    return;
                }
                self->connect_at(std::move(endpoints), 0);
            }));
}

void async_connection::connect_at(endpoint_list endpoints, std::size_t index) {
    const asio::ip::tcp::endpoint target = (*endpoints)[index];
    m_socket.async_connect(
        target, asio::bind_executor(
                    m_strand, [self = shared_from_this(), endpoints, index](const error_code& ec) {
                        self->on_connect(endpoints, index, ec);
                    }));
}

void async_connection::on_connect(endpoint_list endpoints, std::size_t index,
                                  const error_code& ec) {
    if (m_user == nullptr) {
        return;
    }
    if (ec) {
        if (index + 1 < endpoints->size()) {
            error_code ignored;
            m_socket.close(ignored);
            connect_at(std::move(endpoints), index + 1);
            return;
        }
        do_close(to_socket_error(ec));
        return;
    }
    on_established();
}

void async_connection::on_established() {
    error_code ignored;
    m_socket.set_option(asio::ip::tcp::no_delay(true), ignored);
    if (m_use_tls) {
        start_handshake();
        return;
    }
    report_connected();
}

void async_connection::start_handshake() {
    m_tls.emplace(m_socket, *m_tls_context);
    if (!prepare_tls_peer(m_tls->native_handle(), m_tls_host)) {
        do_close(error_code(TLS_HANDSHAKE_FAILED, tls_category()));
        return;
    }
    // The connect deadline keeps running: a server that never finishes the
    // handshake fails the connect like one that never answers.
    m_tls->async_handshake(
        asio::ssl::stream_base::client,
        asio::bind_executor(m_strand, [self = shared_from_this()](const error_code& ec) {
            if (self->m_user == nullptr) {
                return;
            }
            if (ec) {
                self->do_close(handshake_error(self->m_tls->native_handle(), ec));
                return;
            }
            self->report_connected();
        }));
}

void async_connection::report_connected() {
    error_code remote_error;
    error_code local_error;
    asio::ip::tcp::endpoint remote = m_socket.remote_endpoint(remote_error);
    asio::ip::tcp::endpoint local = m_socket.local_endpoint(local_error);
    std::uint32_t remote_address = remote_error ? 0 : ipv4_network_value(remote.address());
    std::uint32_t local_address = local_error ? 0 : ipv4_network_value(local.address());
    error_code ignored;
    // The connect deadline is over; reading re-arms the timer for the
    // inactivity time-out (when there is one).
    m_timeout_timer.cancel(ignored);
    if (InterfaceSocketCallback* callback = InterfaceSocket::tcp_callback()) {
        callback->on_tcp_connected(this, m_user, local_address, local_error ? 0 : local.port(),
                                   remote_address, remote_error ? 0 : remote.port());
    }
    do_read();
}

void async_connection::do_read() {
    if (m_user == nullptr) {
        return;
    }
    InterfaceSocketCallback* callback = InterfaceSocket::tcp_callback();
    std::uint32_t allowance = 0;
    if (callback != nullptr) {
        callback->get_recv_allowance(this, m_user, allowance);
    }
    if (allowance == 0) {
        // Reading waits for the user; the inactivity time-out keeps running
        // from the last read or write, so a user that never consumes still
        // ends the connection eventually.
        arm_retry(m_read_retry_timer, false);
        return;
    }
    std::size_t want = allowance == kNoLimit ? kReceiveBufferSize
                                             : std::min<std::size_t>(allowance, kReceiveBufferSize);
    arm_timeout();
    read_some(asio::buffer(m_receive.data(), want),
              asio::bind_executor(m_strand,
                                  [self = shared_from_this()](const error_code& ec, std::size_t n) {
                                      self->on_read(ec, n);
                                  }));
}

void async_connection::on_read(const error_code& ec, std::size_t n) {
    if (m_user == nullptr) {
        return;
    }
    if (ec) {
        do_close(to_socket_error(ec));
        return;
    }
    if (InterfaceSocketCallback* callback = InterfaceSocket::tcp_callback()) {
        callback->on_tcp_received(this, m_user, m_receive.data(), n);
    }
    do_read();
}

void async_connection::pump_send() {
    if (m_user == nullptr || m_writing) {
        return;
    }
    InterfaceSocketCallback* callback = InterfaceSocket::tcp_callback();
    if (callback == nullptr) {
        return;
    }
    if (m_send.empty()) {
        std::uint32_t allowance = 0;
        callback->get_send_allowance(this, m_user, allowance);
        if (allowance == 0) {
            arm_timeout();
            m_writing = true;
            arm_retry(m_write_retry_timer, true);
            return;
        }
        const char* data = nullptr;
        std::uint32_t size = std::min(allowance, kSendPieceSize);
        callback->get_send_data(this, m_user, data, size);
        std::uint32_t copied = 0;
        if (data != nullptr && size > 0) {
            copied = std::min({size, allowance, kSendPieceSize});
            m_send.assign(data, data + copied);
        }
        callback->on_send_data_taken(this, m_user, copied);
    }
    if (!m_send.empty()) {
        arm_timeout();
        m_writing = true;
        write_all(asio::buffer(m_send),
                  asio::bind_executor(
                      m_strand, [self = shared_from_this()](const error_code& ec, std::size_t n) {
                          self->on_write(ec, n);
                      }));
    }
}

void async_connection::on_write(const error_code& ec, std::size_t n) {
    if (m_user == nullptr) {
        return;
    }
    if (ec) {
        do_close(to_socket_error(ec));
        return;
    }
    m_send.erase(m_send.begin(), m_send.begin() + static_cast<std::ptrdiff_t>(n));
    m_writing = false;
    pump_send();
}

void async_connection::arm_timeout() {
    if (m_timeout_seconds == 0) {
        return;
    }
    m_timeout_timer.expires_from_now(static_cast<std::int64_t>(m_timeout_seconds) * 1000000);
    m_timeout_timer.async_wait(asio::bind_executor(
        m_strand, [self = shared_from_this()](const error_code& ec) { self->on_timeout(ec); }));
}

void async_connection::arm_connect_deadline() {
    if (m_connect_timeout_seconds <= 0) {
        return;
    }
    // The same timer as the inactivity time-out: established, the
    // connection re-arms it for that.
    m_timeout_timer.expires_from_now(static_cast<std::int64_t>(m_connect_timeout_seconds) *
                                     1000000);
    m_timeout_timer.async_wait(asio::bind_executor(
        m_strand, [self = shared_from_this()](const error_code& ec) { self->on_timeout(ec); }));
}

void async_connection::on_timeout(const error_code& ec) {
    if (m_user == nullptr || is_operation_aborted(ec)) {
        return;
    }
    if (ec) {
        do_close(to_socket_error(ec));
        return;
    }
    // An expiry that was already queued when the timer was re-armed: the
    // newer deadline decides.
    if (time_t_traits::less_than(time_t_traits::now(), m_timeout_timer.expires_at())) {
        return;
    }
    do_close(Core_Platform::make_socket_error(Core_Platform::SOCKET_ERROR_TIMED_OUT));
}

void async_connection::arm_retry(socket_timer& timer, bool for_write) {
    timer.expires_from_now(retry_delay_us());
    timer.async_wait(
        asio::bind_executor(m_strand, [self = shared_from_this(), for_write](const error_code& ec) {
            if (self->m_user == nullptr || is_operation_aborted(ec)) {
                return;
            }
            if (ec) {
                self->do_close(to_socket_error(ec));
                return;
            }
            if (for_write) {
                self->m_writing = false;
                self->pump_send();
            } else {
                self->do_read();
            }
        }));
}

void async_connection::do_close(const error_code& ec) {
    if (m_user == nullptr) {
        return;
    }
    error_code ignored;
    m_socket.close(ignored);
    m_timeout_timer.cancel(ignored);
    m_read_retry_timer.cancel(ignored);
    m_write_retry_timer.cancel(ignored);
    if (m_resolver) {
        m_resolver->cancel();
    }
    if (InterfaceSocketCallback* callback = InterfaceSocket::tcp_callback()) {
        callback->on_tcp_closed(this, m_user, ec);
    }
    // Detached from here on, whatever the user did with the slot.
    m_user = nullptr;
    m_service.remove_connection(shared_from_this());
}

}  // namespace Core_Socket
