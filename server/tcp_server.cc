#include "tcp_server.h"

#include <array>
#include <atomic>
#include <thread>
#include <utility>
#include <vector>

#include <boost/asio.hpp>

namespace Core_Server {

namespace asio = boost::asio;
using tcp = asio::ip::tcp;
using boost::system::error_code;

struct tcp_server_t::impl_t {
    impl_t(const tcp_server_options_t& o, InterfaceRequestHandler& h, request_log_t& l)
        : options(o), handler(h), log(l) {}

    void accept_next();

    const tcp_server_options_t options;
    InterfaceRequestHandler& handler;
    request_log_t& log;
    std::atomic<int> open{0};
    std::atomic<std::uint64_t> finished{0};
    std::atomic<bool> stopped{false};
    // Destroyed before the members above, together with every connection
    // its pending handlers still own.
    asio::io_context io;
    tcp::acceptor acceptor{io};
    asio::steady_timer accept_retry{io};
    std::uint16_t bound_port = 0;
    std::vector<std::thread> threads;
};

namespace {

class connection_t : public std::enable_shared_from_this<connection_t> {
public:
    connection_t(tcp_server_t::impl_t& server, tcp::socket socket, bool busy)
        : m_server(server),
          m_socket(std::move(socket)),
          m_deadline(m_socket.get_executor()),
          m_started(std::chrono::steady_clock::now()) {
        m_request.busy = busy;
        error_code ec;
        const auto remote = m_socket.remote_endpoint(ec);
        if (!ec) {
            m_request.peer_address = remote.address().to_string();
            m_request.peer = remote.address().is_v6()
                                 ? "[" + m_request.peer_address + "]:" + std::to_string(remote.port())
                                 : m_request.peer_address + ":" + std::to_string(remote.port());
        }
        ++m_server.open;
    }
    ~connection_t() { --m_server.open; }

    void start() {
        arm_deadline();
        read_header();
    }

private:
    // A deadline that fired while the handler ran may already be queued
    // when the next one is armed; the generation tells it apart.
    void arm_deadline() {
        const unsigned generation = ++m_deadline_generation;
        m_deadline.expires_after(m_server.options.timeout);
        m_deadline.async_wait([self = shared_from_this(), generation](const error_code& ec) {
            if (ec == asio::error::operation_aborted || self->m_finished ||
                generation != self->m_deadline_generation) {
                return;
            }
            self->m_timed_out = true;
            error_code ignored;
            self->m_socket.close(ignored);
        });
    }

    void read_header() {
        m_socket.async_read_some(
            asio::buffer(m_chunk), [self = shared_from_this()](const error_code& ec, std::size_t n) {
                self->on_header_bytes(ec, n);
            });
    }

    void on_header_bytes(const error_code& ec, std::size_t n) {
        if (ec) return drop(ec);
        m_bytes_in += n;
        m_buffer.append(m_chunk.data(), n);
        switch (parse_request_header(m_buffer, m_request.envelope)) {
            case envelope_parse_enum::NEED_MORE:
                return read_header();
            case envelope_parse_enum::INVALID:
                return finish("dropped: not a request");
            case envelope_parse_enum::COMPLETE:
                break;
        }
        const auto& e = m_request.envelope;
        const std::size_t total = e.header_size + std::size_t{e.body_length};
        if (total > m_server.options.max_request) return finish("dropped: request too large");
        m_request.body = m_buffer.substr(e.header_size, e.body_length);
        m_buffer.clear();
        m_buffer.shrink_to_fit();
        read_body();
    }

    void read_body() {
        const std::size_t have = m_request.body.size();
        const std::size_t want = m_request.envelope.body_length;
        if (have >= want) return handle();
        m_request.body.resize(want);
        asio::async_read(m_socket, asio::buffer(m_request.body.data() + have, want - have),
                         [self = shared_from_this()](const error_code& ec, std::size_t n) {
                             self->m_bytes_in += n;
                             if (ec) return self->drop(ec);
                             self->handle();
                         });
    }

    void handle() {
        // The request is in: its deadline is over while the handler works
        // (a tree of a hundred megabytes takes seconds to check and store);
        // the reply's starts when sending does. (A new generation keeps an
        // expiry already queued from closing the connection.)
        ++m_deadline_generation;
        m_deadline.cancel();
        m_server.handler.handle(m_request, m_reply);
        m_request.body.clear();
        m_request.body.shrink_to_fit();
        m_out = make_reply(m_request.envelope, m_reply.body);
        m_reply.body.clear();
        arm_deadline();
        asio::async_write(m_socket, asio::buffer(m_out),
                          [self = shared_from_this()](const error_code& ec, std::size_t n) {
                              self->m_bytes_out += n;
                              if (ec) return self->drop(ec);
                              error_code ignored;
                              self->m_socket.shutdown(tcp::socket::shutdown_both, ignored);
                              self->finish(self->m_reply.result);
                          });
    }

    void drop(const error_code& ec) {
        if (m_timed_out) return finish("dropped: time-out");
        if (ec == asio::error::eof) return finish("dropped: closed by the client");
        finish("dropped: " + ec.message());
    }

    void finish(const std::string& result) {
        if (m_finished) return;
        m_finished = true;
        error_code ignored;
        m_deadline.cancel();
        m_socket.close(ignored);
        request_log_entry_t entry;
        entry.peer = m_request.peer;
        entry.user = m_reply.user;
        entry.action = m_reply.action;
        entry.result = result;
        entry.bytes_in = m_bytes_in;
        entry.bytes_out = m_bytes_out;
        entry.milliseconds = std::chrono::duration<double, std::milli>(
                                 std::chrono::steady_clock::now() - m_started)
                                 .count();
        m_server.log.write(entry);
        ++m_server.finished;
    }

    tcp_server_t::impl_t& m_server;
    tcp::socket m_socket;
    asio::steady_timer m_deadline;
    const std::chrono::steady_clock::time_point m_started;
    std::array<char, 16384> m_chunk{};
    std::string m_buffer;
    request_t m_request;
    reply_t m_reply;
    std::string m_out;
    std::uint64_t m_bytes_in = 0;
    std::uint64_t m_bytes_out = 0;
    unsigned m_deadline_generation = 0;
    bool m_timed_out = false;
    bool m_finished = false;
};

}  // namespace

void tcp_server_t::impl_t::accept_next() {
    acceptor.async_accept(asio::make_strand(io), [this](const error_code& ec, tcp::socket socket) {
        if (stopped) return;
        if (!ec) {
            const int now_open = open.load();
            if (now_open >= 2 * options.max_connections) {
                request_log_entry_t entry;
                error_code ignored;
                const auto remote = socket.remote_endpoint(ignored);
                entry.peer = remote.address().to_string() + ":" + std::to_string(remote.port());
                entry.result = "dropped: too many connections";
                socket.close(ignored);
                log.write(entry);
                ++finished;
            } else {
                std::make_shared<connection_t>(*this, std::move(socket),
                                               now_open >= options.max_connections)
                    ->start();
            }
        } else if (ec == asio::error::operation_aborted) {
            return;
        } else {
            // Out of descriptors and the like: say so, and try again shortly
            // rather than spin.
            log.note("accept failed on port " + std::to_string(bound_port) + ": " + ec.message());
            accept_retry.expires_after(std::chrono::milliseconds(100));
            accept_retry.async_wait([this](const error_code& wait_error) {
                if (!wait_error && !stopped) accept_next();
            });
            return;
        }
        accept_next();
    });
}

tcp_server_t::tcp_server_t(const tcp_server_options_t& options, InterfaceRequestHandler& handler,
                           request_log_t& log)
    : m_impl(std::make_unique<impl_t>(options, handler, log)) {}

tcp_server_t::~tcp_server_t() { stop(); }

bool tcp_server_t::start(std::string& error) {
    auto& s = *m_impl;
    const std::string where = s.options.address + ":" + std::to_string(s.options.port);
    error_code ec;
    const auto address = asio::ip::make_address(s.options.address, ec);
    if (ec) {
        error = "cannot listen on " + where + ": \"" + s.options.address +
                "\" is not an IP address";
        return false;
    }
    const tcp::endpoint endpoint(address, s.options.port);
    s.acceptor.open(endpoint.protocol(), ec);
    if (!ec) s.acceptor.set_option(tcp::acceptor::reuse_address(true), ec);
    if (!ec) s.acceptor.bind(endpoint, ec);
    if (!ec) s.acceptor.listen(asio::socket_base::max_listen_connections, ec);
    if (ec) {
        error = "cannot listen on " + where + ": " + ec.message();
        error_code ignored;
        s.acceptor.close(ignored);
        return false;
    }
    s.bound_port = s.acceptor.local_endpoint(ec).port();
    s.accept_next();
    const int threads = std::max(1, s.options.threads);
    for (int i = 0; i < threads; ++i) s.threads.emplace_back([&s] { s.io.run(); });
    return true;
}

std::uint16_t tcp_server_t::port() const { return m_impl->bound_port; }

int tcp_server_t::open_connections() const { return m_impl->open.load(); }

std::uint64_t tcp_server_t::finished_connections() const { return m_impl->finished.load(); }

void tcp_server_t::stop() {
    auto& s = *m_impl;
    if (s.stopped.exchange(true)) return;
    s.io.stop();
    for (auto& t : s.threads) t.join();
    s.threads.clear();
    error_code ignored;
    s.acceptor.close(ignored);
}

}  // namespace Core_Server
