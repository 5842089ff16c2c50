// Test support, internal to the engine's tests: a small scripted TCP peer on
// the loopback interface.
//
// A ScriptedPeer listens on a loopback address and an ephemeral port and runs
// its script once for each connection it accepts, one connection after the
// other, on a thread of its own. The script talks to the connection through
// PeerConnection, whose reads give up after a bounded wait, so a test whose
// engine misbehaves fails instead of hanging.
//
// Thread rule: the script runs on the peer's thread; everything else of a
// ScriptedPeer is called from the test's thread. The destructor stops
// accepting, waits for the running script to end and joins the thread.
#pragma once

#include <sys/socket.h>
#include <sys/time.h>

#include <atomic>
#include <boost/asio/connect.hpp>
#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/read.hpp>
#include <boost/asio/write.hpp>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <thread>

namespace Core_Socket::testing {

// SO_RCVTIMEO as a socket option the socket library can set.
class receive_timeout_option {
public:
    explicit receive_timeout_option(std::chrono::milliseconds wait) {
        m_value.tv_sec = static_cast<time_t>(wait.count() / 1000);
        m_value.tv_usec = static_cast<suseconds_t>((wait.count() % 1000) * 1000);
    }
    template <class Protocol>
    int level(const Protocol&) const { return SOL_SOCKET; }
    template <class Protocol>
    int name(const Protocol&) const { return SO_RCVTIMEO; }
    template <class Protocol>
    const void* data(const Protocol&) const { return &m_value; }
    template <class Protocol>
    std::size_t size(const Protocol&) const { return sizeof(m_value); }

private:
    timeval m_value{};
};

// One accepted connection as the script sees it.
class PeerConnection {
public:
    explicit PeerConnection(boost::asio::ip::tcp::socket socket) : m_socket(std::move(socket)) {
        set_read_timeout(std::chrono::seconds(20));
        boost::system::error_code ignored;
        m_socket.set_option(boost::asio::ip::tcp::no_delay(true), ignored);
    }

    // Later reads wait at most `wait` for each piece of data.
    void set_read_timeout(std::chrono::milliseconds wait) {
        boost::system::error_code ignored;
        m_socket.set_option(receive_timeout_option(wait), ignored);
    }

    // Reads exactly n bytes. Returns fewer when the connection ended or the
    // read timed out first.
    std::string read_exact(std::size_t n) {
        std::string out(n, '\0');
        boost::system::error_code ec;
        std::size_t got = boost::asio::read(m_socket, boost::asio::buffer(out), ec);
        out.resize(got);
        return out;
    }

    // Reads one request of the session envelope (16-byte preamble, header of
    // `header_length` bytes, body). Returns the whole request, or what was
    // read before the connection ended.
    std::string read_request() {
        std::string head = read_exact(18);
        if (head.size() < 18) {
            return head;
        }
        std::size_t header_length =
            (static_cast<unsigned char>(head[16]) << 8) | static_cast<unsigned char>(head[17]);
        if (header_length < 6) {
            return head;
        }
        std::string rest = read_exact(header_length - 2);
        head += rest;
        if (rest.size() < header_length - 2) {
            return head;
        }
        std::uint32_t body_length = 0;
        for (int i = 0; i < 4; ++i) {
            body_length = (body_length << 8) | static_cast<unsigned char>(head[20 + i]);
        }
        head += read_exact(body_length);
        return head;
    }

    // Writes all bytes; false when the connection is gone.
    bool write(const std::string& bytes) {
        boost::system::error_code ec;
        boost::asio::write(m_socket, boost::asio::buffer(bytes), ec);
        return !ec;
    }

    // Waits until the other side closes (end of file or reset), discarding
    // what arrives meanwhile. True when it closed within `wait`.
    bool wait_closed(std::chrono::milliseconds wait) {
        auto deadline = std::chrono::steady_clock::now() + wait;
        set_read_timeout(std::chrono::milliseconds(50));
        char scratch[4096];
        while (std::chrono::steady_clock::now() < deadline) {
            boost::system::error_code ec;
            m_socket.read_some(boost::asio::buffer(scratch), ec);
            if (ec == boost::asio::error::eof || ec == boost::asio::error::connection_reset) {
                return true;
            }
            if (ec && ec != boost::asio::error::would_block && ec != boost::asio::error::try_again &&
                ec != boost::asio::error::timed_out) {
                return true;
            }
        }
        return false;
    }

    // Closes in an orderly way (the other side reads end of file).
    void close() {
        boost::system::error_code ignored;
        m_socket.shutdown(boost::asio::ip::tcp::socket::shutdown_both, ignored);
        m_socket.close(ignored);
    }

    // Closes abortively (the other side sees a reset).
    void reset() {
        boost::system::error_code ignored;
        m_socket.set_option(boost::asio::socket_base::linger(true, 0), ignored);
        m_socket.close(ignored);
    }

private:
    boost::asio::ip::tcp::socket m_socket;
};

class ScriptedPeer {
public:
    using script_t = std::function<void(PeerConnection&)>;

    // Listens on `address` (a loopback address) and an ephemeral port.
    explicit ScriptedPeer(script_t script, const std::string& address = "127.0.0.1")
        : m_script(std::move(script)), m_acceptor(m_context) {
        boost::asio::ip::tcp::endpoint local(boost::asio::ip::make_address(address), 0);
        m_acceptor.open(local.protocol());
        m_acceptor.set_option(boost::asio::socket_base::reuse_address(true));
        m_acceptor.bind(local);
        m_acceptor.listen();
        m_port = m_acceptor.local_endpoint().port();
        m_address = address;
        m_thread = std::thread([this] { run(); });
    }

    ~ScriptedPeer() {
        m_stopping.store(true);
        // Wake the blocking accept with a connection of our own.
        try {
            boost::asio::io_context waker;
            boost::asio::ip::tcp::socket s(waker);
            boost::system::error_code ignored;
            s.connect({boost::asio::ip::make_address(m_address), m_port}, ignored);
            m_thread.join();
        } catch (...) {
            m_thread.join();
        }
    }

    std::uint16_t port() const { return m_port; }

    // Connections accepted and handed to the script so far.
    int accepted() const { return m_accepted.load(); }
    // Scripts that have returned so far.
    int finished() const { return m_finished.load(); }

    // Waits until `count` scripts have returned, at most `wait`.
    bool wait_finished(int count, std::chrono::milliseconds wait) {
        std::unique_lock<std::mutex> lock(m_mutex);
        return m_cv.wait_for(lock, wait, [&] { return m_finished.load() >= count; });
    }

private:
    void run() {
        while (!m_stopping.load()) {
            boost::asio::ip::tcp::socket socket(m_context);
            boost::system::error_code ec;
            m_acceptor.accept(socket, ec);
            if (ec || m_stopping.load()) {
                break;
            }
            m_accepted.fetch_add(1);
            {
                PeerConnection connection(std::move(socket));
                m_script(connection);
            }
            {
                std::lock_guard<std::mutex> lock(m_mutex);
                m_finished.fetch_add(1);
            }
            m_cv.notify_all();
        }
    }

    script_t m_script;
    boost::asio::io_context m_context;
    boost::asio::ip::tcp::acceptor m_acceptor;
    std::string m_address;
    std::uint16_t m_port = 0;
    std::atomic<bool> m_stopping{false};
    std::atomic<int> m_accepted{0};
    std::atomic<int> m_finished{0};
    std::mutex m_mutex;
    std::condition_variable m_cv;
    std::thread m_thread;
};

// A loopback port on which nothing listens (connects to it are refused).
inline std::uint16_t refused_port(const std::string& address = "127.0.0.1") {
    boost::asio::io_context context;
    boost::asio::ip::tcp::acceptor acceptor(context);
    boost::asio::ip::tcp::endpoint local(boost::asio::ip::make_address(address), 0);
    acceptor.open(local.protocol());
    acceptor.bind(local);
    std::uint16_t port = acceptor.local_endpoint().port();
    return port;  // the acceptor closes without ever listening
}

}  // namespace Core_Socket::testing
