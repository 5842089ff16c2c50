#include "tcp_server.h"

#include <openssl/ssl.h>
#include <pthread.h>
#include <sys/stat.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <mutex>
#include <new>
#include <optional>
#include <thread>
#include <unordered_map>
#include <utility>
#include <vector>

// After the standard headers: Asio's own use them without including them.
#include <boost/asio.hpp>
#include <boost/asio/ssl.hpp>

#include "peer_address.h"
#include "worker_pool.h"

namespace Core_Server {

namespace asio = boost::asio;
namespace ssl = asio::ssl;
using tcp = asio::ip::tcp;
using boost::system::error_code;

namespace {

// The first byte of a TLS handshake record; no envelope starts with it.
constexpr unsigned char TLS_HANDSHAKE = 0x16;
// Read in pieces of this size; a body grows by at least this much at a time.
constexpr std::size_t CHUNK = 16384;
// Time a TLS client has to answer the closing of the connection.
constexpr std::chrono::seconds TLS_CLOSE_TIME{2};

// A TLS context for `certificate` and `key`, or null with `error` set.
std::shared_ptr<ssl::context> make_tls_context(const std::string& certificate,
                                               const std::string& key, std::string& error) {
    auto context = std::make_shared<ssl::context>(ssl::context::tls_server);
    error_code ec;
    context->set_options(ssl::context::default_workarounds | ssl::context::no_sslv2 |
                             ssl::context::no_sslv3 | ssl::context::no_tlsv1 |
                             ssl::context::no_tlsv1_1 | ssl::context::no_compression |
                             ssl::context::single_dh_use,
                         ec);
    SSL_CTX* native = context->native_handle();
    SSL_CTX_set_min_proto_version(native, TLS1_2_VERSION);
    SSL_CTX_set_options(native, SSL_OP_CIPHER_SERVER_PREFERENCE);
    // A client makes one connection per request: one session ticket to
    // resume the next one with is enough (the library sends two).
    SSL_CTX_set_num_tickets(native, 1);
    context->use_certificate_chain_file(certificate, ec);
    if (ec) {
        error = "cannot use the TLS certificate " + certificate + ": " + ec.message();
        return nullptr;
    }
    context->use_private_key_file(key, ssl::context::pem, ec);
    if (ec) {
        error = "cannot use the TLS key " + key + " with the certificate " + certificate + ": " +
                ec.message();
        return nullptr;
    }
    if (SSL_CTX_check_private_key(native) != 1) {
        error = "the TLS key " + key + " does not belong to the certificate " + certificate;
        return nullptr;
    }
    return context;
}

}  // namespace

struct tcp_server_t::impl_t {
    impl_t(const tcp_server_options_t& o, InterfaceRequestHandler& h, request_log_t& l)
        : options(o), handler(h), log(l) {}

    void accept_next();
    void run_network();

    // Takes `n` bytes from the budget of buffered bytes; false, taking
    // nothing, when that would go beyond it.
    bool reserve(std::size_t n) {
        std::size_t now = buffered.load();
        do {
            if (n > options.max_buffered || now > options.max_buffered - n) return false;
        } while (!buffered.compare_exchange_weak(now, now + n));
        return true;
    }
    void release(std::size_t n) { buffered -= n; }

    // Counts a connection from `key`; false when the address has its fill.
    bool enter(const std::string& key) {
        std::lock_guard<std::mutex> lock(addresses_mutex);
        int& count = per_address[key];
        if (count >= options.max_per_address) {
            if (count == 0) per_address.erase(key);
            return false;
        }
        ++count;
        return true;
    }
    void leave(const std::string& key) {
        std::lock_guard<std::mutex> lock(addresses_mutex);
        const auto it = per_address.find(key);
        if (it != per_address.end() && --it->second <= 0) per_address.erase(it);
    }

    std::shared_ptr<ssl::context> tls_context() {
        std::lock_guard<std::mutex> lock(tls_mutex);
        return tls;
    }

    void log_refused(tcp::socket& socket, const std::string& result) {
        request_log_entry_t entry;
        error_code ignored;
        const auto remote = socket.remote_endpoint(ignored);
        entry.peer = remote.address().to_string() + ":" + std::to_string(remote.port());
        entry.result = result;
        socket.close(ignored);
        log.write(entry);
        ++finished;
    }

    const tcp_server_options_t options;
    InterfaceRequestHandler& handler;
    request_log_t& log;
    std::atomic<int> open{0};
    std::atomic<std::uint64_t> finished{0};
    std::atomic<std::size_t> buffered{0};
    std::atomic<bool> stopped{false};
    std::mutex addresses_mutex;
    std::unordered_map<std::string, int> per_address;
    std::mutex tls_mutex;
    std::shared_ptr<ssl::context> tls;
    // Destroyed before the members above, together with every connection
    // its pending handlers still own.
    asio::io_context io;
    tcp::acceptor acceptor{io};
    asio::steady_timer accept_retry{io};
    std::uint16_t bound_port = 0;
    std::vector<std::thread> threads;
    // Destroyed before the context: queued jobs own connections.
    std::unique_ptr<worker_pool_t> workers;
};

namespace {

class connection_t : public std::enable_shared_from_this<connection_t> {
public:
    connection_t(tcp_server_t::impl_t& server, tcp::socket socket, std::string address_key,
                 bool busy)
        : m_server(server),
          m_socket(std::move(socket)),
          m_address_key(std::move(address_key)),
          m_deadline(m_socket.get_executor()),
          m_started(std::chrono::steady_clock::now()) {
        m_request.busy = busy;
        error_code ec;
        // One request, one reply: nothing to gain from holding small
        // writes back (TLS sends the reply's header and body, and its
        // handshake, as separate records).
        m_socket.set_option(tcp::no_delay(true), ec);
        const auto remote = m_socket.remote_endpoint(ec);
        if (!ec) {
            m_request.peer_address = remote.address().to_string();
            m_request.peer =
                remote.address().is_v6()
                    ? "[" + m_request.peer_address + "]:" + std::to_string(remote.port())
                    : m_request.peer_address + ":" + std::to_string(remote.port());
        }
        ++m_server.open;
    }
    ~connection_t() {
        m_server.release(m_charged);
        m_server.leave(m_address_key);
        --m_server.open;
    }

    void start() {
        arm_deadline(m_started +
                     std::min(m_server.options.header_timeout, m_server.options.timeout));
        m_tls_context = m_server.tls_context();
        if (!m_tls_context) return read_header();
        // The first byte tells TLS from clear text; it stays in the socket.
        m_socket.async_wait(
            tcp::socket::wait_read,
            [self = shared_from_this()](const error_code& ec) { self->on_first_byte(ec); });
    }

private:
    // ---- The stream: the socket itself, or TLS over it ----

    template <class Buffers, class Handler>
    void read_some(const Buffers& buffers, Handler&& handler) {
        if (m_tls) {
            m_tls->async_read_some(buffers, std::forward<Handler>(handler));
        } else {
            m_socket.async_read_some(buffers, std::forward<Handler>(handler));
        }
    }
    template <class Buffers, class Handler>
    void write_all(const Buffers& buffers, Handler&& handler) {
        if (m_tls) {
            asio::async_write(*m_tls, buffers, std::forward<Handler>(handler));
        } else {
            asio::async_write(m_socket, buffers, std::forward<Handler>(handler));
        }
    }

    // ---- Deadlines ----

    // A deadline that fired while the handler ran may already be queued
    // when the next one is armed; the generation tells it apart.
    void arm_deadline(std::chrono::steady_clock::time_point when) {
        const unsigned generation = ++m_deadline_generation;
        m_deadline.expires_at(when);
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
    void disarm_deadline() {
        ++m_deadline_generation;
        m_deadline.cancel();
    }

    // ---- Reading ----

    void on_first_byte(const error_code& ec) {
        if (ec) return drop(ec);
        unsigned char first = 0;
        error_code peek_error;
        const std::size_t n =
            m_socket.receive(asio::buffer(&first, 1), tcp::socket::message_peek, peek_error);
        if (peek_error) return drop(peek_error);
        if (n == 0) return drop(asio::error::eof);
        if (first != TLS_HANDSHAKE) {
            if (m_server.options.require_tls) return finish("dropped: clear text (TLS required)");
            return read_header();
        }
        m_tls.emplace(m_socket, *m_tls_context);
        m_request.tls = true;
        m_tls->async_handshake(ssl::stream_base::server,
                               [self = shared_from_this()](const error_code& handshake_error) {
                                   if (handshake_error) return self->drop(handshake_error);
                                   self->read_header();
                               });
    }

    void read_header() {
        read_some(asio::buffer(m_chunk),
                  [self = shared_from_this()](const error_code& ec, std::size_t n) {
                      self->on_header_bytes(ec, n);
                  });
    }

    void on_header_bytes(const error_code& ec, std::size_t n) {
        if (ec) return drop(ec);
        m_bytes_in += n;
        m_header.append(m_chunk.data(), n);
        switch (parse_request_header(m_header, m_request.envelope)) {
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
        // The rest of the request within the whole time allowed.
        arm_deadline(m_started + m_server.options.timeout);
        // Bytes that came with the header belong to the body.
        const std::size_t extra =
            std::min<std::size_t>(m_header.size() - e.header_size, e.body_length);
        const std::string first_part = m_header.substr(e.header_size, extra);
        m_header.clear();
        m_header.shrink_to_fit();
        take_body(first_part.data(), first_part.size());
        continue_body();
    }

    // Keeps `n` more body bytes, within the budget; past it, the body is
    // dropped and the rest read without being kept.
    void take_body(const char* data, std::size_t n) {
        m_received += n;
        if (m_discarding || n == 0) return;
        std::string& body = m_request.body;
        const std::size_t want = body.size() + n;
        if (want > m_charged) {
            // Grow by half at least, never beyond what the header announced.
            const std::size_t grown = std::min<std::size_t>(
                m_request.envelope.body_length, std::max({want, m_charged + m_charged / 2, CHUNK}));
            if (!m_server.reserve(grown - m_charged)) return discard_body();
            try {
                body.reserve(grown);
            } catch (const std::bad_alloc&) {
                m_server.release(grown - m_charged);
                return discard_body();
            }
            m_charged = grown;
        }
        body.append(data, n);
    }

    void discard_body() {
        m_discarding = true;
        m_request.busy = true;
        std::string().swap(m_request.body);
        m_server.release(m_charged);
        m_charged = 0;
    }

    void continue_body() {
        const std::size_t want = m_request.envelope.body_length;
        if (m_received >= want) return dispatch();
        const std::size_t piece = std::min(CHUNK, want - m_received);
        read_some(asio::buffer(m_chunk.data(), piece),
                  [self = shared_from_this()](const error_code& ec, std::size_t n) {
                      self->m_bytes_in += n;
                      if (ec) return self->drop(ec);
                      self->take_body(self->m_chunk.data(), n);
                      self->continue_body();
                  });
    }

    // ---- Handling ----

    void dispatch() {
        // The handler's time is not the client's: no deadline until the
        // reply goes out.
        disarm_deadline();
        if (!m_request.busy) {
            auto self = shared_from_this();
            const bool queued = m_server.workers->try_post([self] {
                try {
                    self->m_server.handler.handle(self->m_request, self->m_reply);
                } catch (...) {
                    self->m_handler_failed = true;
                }
                asio::post(self->m_socket.get_executor(), [self] { self->after_handle(); });
            });
            if (queued) return;
            m_request.busy = true;
        }
        // Over a limit: the handler answers at once, here.
        try {
            m_server.handler.handle(m_request, m_reply);
        } catch (...) {
            m_handler_failed = true;
        }
        after_handle();
    }

    void after_handle() {
        std::string().swap(m_request.body);
        m_server.release(m_charged);
        m_charged = 0;
        if (m_handler_failed) return finish("dropped: the handler failed");
        // The reply is made already; it counts while it is being sent.
        m_reply_charge = m_reply.body.size();
        m_server.buffered += m_reply_charge;
        if (m_reply.hold.count() > 0) {
            m_deadline.expires_after(m_reply.hold);
            m_deadline.async_wait([self = shared_from_this()](const error_code& ec) {
                if (ec == asio::error::operation_aborted || self->m_finished) return;
                self->send_reply();
            });
            return;
        }
        send_reply();
    }

    void send_reply() {
        arm_deadline(std::chrono::steady_clock::now() + m_server.options.timeout);
        m_reply_header = make_reply_header(m_request.envelope, m_reply.body.size());
        const std::array<asio::const_buffer, 2> buffers{asio::buffer(m_reply_header),
                                                        asio::buffer(m_reply.body)};
        write_all(buffers, [self = shared_from_this()](const error_code& ec, std::size_t n) {
            self->m_bytes_out += n;
            self->m_server.release(self->m_reply_charge);
            self->m_reply_charge = 0;
            std::string().swap(self->m_reply.body);
            if (ec) return self->drop(ec);
            self->close_after_reply();
        });
    }

    void close_after_reply() {
        if (!m_tls) {
            error_code ignored;
            m_socket.shutdown(tcp::socket::shutdown_both, ignored);
            return finish(m_reply.result);
        }
        // Say goodbye in TLS, so the client knows the reply is whole; a
        // client that does not answer is not waited for long.
        arm_deadline(std::chrono::steady_clock::now() + TLS_CLOSE_TIME);
        m_tls->async_shutdown(
            [self = shared_from_this()](const error_code&) { self->finish(self->m_reply.result); });
    }

    // ---- Ending ----

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
        if (m_reply_charge > 0) {
            m_server.release(m_reply_charge);
            m_reply_charge = 0;
        }
        request_log_entry_t entry;
        entry.peer = m_request.peer;
        entry.user = m_reply.user;
        entry.action = m_reply.action;
        entry.result = result;
        entry.bytes_in = m_bytes_in;
        entry.bytes_out = m_bytes_out;
        entry.tls = m_request.tls;
        entry.milliseconds =
            std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - m_started)
                .count();
        m_server.log.write(entry);
        ++m_server.finished;
    }

    tcp_server_t::impl_t& m_server;
    tcp::socket m_socket;
    const std::string m_address_key;
    std::shared_ptr<ssl::context> m_tls_context;
    std::optional<ssl::stream<tcp::socket&>> m_tls;
    asio::steady_timer m_deadline;
    const std::chrono::steady_clock::time_point m_started;
    std::array<char, CHUNK> m_chunk;  // filled by each read before use
    std::string m_header;
    request_t m_request;
    reply_t m_reply;
    std::string m_reply_header;
    std::size_t m_received = 0;      // body bytes read
    std::size_t m_charged = 0;       // budget taken by the body buffer
    std::size_t m_reply_charge = 0;  // budget counted for the reply
    std::uint64_t m_bytes_in = 0;
    std::uint64_t m_bytes_out = 0;
    unsigned m_deadline_generation = 0;
    bool m_discarding = false;
    bool m_timed_out = false;
    bool m_finished = false;
    // Written by a worker, read after the post back to the connection.
    bool m_handler_failed = false;
};

}  // namespace

void tcp_server_t::impl_t::accept_next() {
    acceptor.async_accept(asio::make_strand(io), [this](const error_code& ec, tcp::socket socket) {
        if (stopped) return;
        if (!ec) {
            error_code remote_error;
            const auto remote = socket.remote_endpoint(remote_error);
            std::string key =
                remote_error ? std::string("?") : address_key(remote.address().to_string());
            const int now_open = open.load();
            if (now_open >= 2 * options.max_connections) {
                log_refused(socket, "dropped: too many connections");
            } else if (!enter(key)) {
                log_refused(socket, "dropped: too many connections from this address");
            } else {
                std::make_shared<connection_t>(*this, std::move(socket), std::move(key),
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

void tcp_server_t::impl_t::run_network() {
    // Named for operators' tools (top -H, ps -L).
    pthread_setname_np(pthread_self(), "zv-network");
    // What a handler throws is reported and the thread goes on serving.
    for (;;) {
        try {
            io.run();
            return;
        } catch (const std::exception& e) {
            log.note(std::string("network thread: ") + e.what());
        } catch (...) {
            log.note("network thread: unknown failure");
        }
    }
}

tcp_server_t::tcp_server_t(const tcp_server_options_t& options, InterfaceRequestHandler& handler,
                           request_log_t& log)
    : m_impl(std::make_unique<impl_t>(options, handler, log)) {}

tcp_server_t::~tcp_server_t() { stop(); }

bool tcp_server_t::reload_tls(std::string& error) {
    auto& s = *m_impl;
    if (s.options.tls_certificate.empty() && s.options.tls_key.empty()) return true;
    auto context = make_tls_context(s.options.tls_certificate, s.options.tls_key, error);
    if (!context) return false;
    struct stat st;
    if (::stat(s.options.tls_key.c_str(), &st) == 0 && (st.st_mode & 077) != 0) {
        s.log.note("warning: the TLS key " + s.options.tls_key +
                   " can be read by other users (make it 0600)");
    }
    std::lock_guard<std::mutex> lock(s.tls_mutex);
    s.tls = std::move(context);
    return true;
}

bool tcp_server_t::start(std::string& error) {
    auto& s = *m_impl;
    if (s.options.tls_certificate.empty() != s.options.tls_key.empty()) {
        error = "TLS needs both a certificate and a key";
        return false;
    }
    if (s.options.require_tls && s.options.tls_certificate.empty()) {
        error = "TLS is required but no certificate is given";
        return false;
    }
    if (!reload_tls(error)) return false;
    const std::string where = s.options.address + ":" + std::to_string(s.options.port);
    error_code ec;
    const auto address = asio::ip::make_address(s.options.address, ec);
    if (ec) {
        error =
            "cannot listen on " + where + ": \"" + s.options.address + "\" is not an IP address";
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
    s.workers = std::make_unique<worker_pool_t>(s.options.workers, s.options.queue);
    s.accept_next();
    const int threads = std::max(1, s.options.threads);
    for (int i = 0; i < threads; ++i) s.threads.emplace_back([&s] { s.run_network(); });
    return true;
}

std::uint16_t tcp_server_t::port() const { return m_impl->bound_port; }

int tcp_server_t::open_connections() const { return m_impl->open.load(); }

std::uint64_t tcp_server_t::finished_connections() const { return m_impl->finished.load(); }

std::size_t tcp_server_t::buffered_bytes() const { return m_impl->buffered.load(); }

void tcp_server_t::stop() {
    auto& s = *m_impl;
    if (s.stopped.exchange(true)) return;
    s.io.stop();
    for (auto& t : s.threads) t.join();
    s.threads.clear();
    // Running handlers finish; their replies are never sent.
    if (s.workers) s.workers->stop();
    error_code ignored;
    s.acceptor.close(ignored);
}

}  // namespace Core_Server
