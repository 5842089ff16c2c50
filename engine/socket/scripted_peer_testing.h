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

#include <algorithm>
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

// One accepted connection as the script sees it. Every read and write gives
// up at its deadline (the socket is non-blocking and the peer polls it every
// millisecond), so a script never outlives a misbehaving engine for long.
class PeerConnection {
public:
    explicit PeerConnection(boost::asio::ip::tcp::socket socket) : m_socket(std::move(socket)) {
        boost::system::error_code ignored;
        m_socket.set_option(boost::asio::ip::tcp::no_delay(true), ignored);
        m_socket.non_blocking(true, ignored);
    }

    // Switches to blocking reads and writes without deadlines (for peers that
    // must answer as fast as possible, such as a benchmark's).
    void use_blocking_io() {
        boost::system::error_code ignored;
        m_socket.non_blocking(false, ignored);
    }

    // Later reads and writes wait at most `wait` each.
    void set_read_timeout(std::chrono::milliseconds wait) { m_wait = wait; }

    // Reads exactly n bytes. Returns fewer when the connection ended or the
    // deadline passed first.
    std::string read_exact(std::size_t n) {
        std::string out;
        const auto deadline = std::chrono::steady_clock::now() + m_wait;
        char scratch[65536];
        while (out.size() < n) {
            boost::system::error_code ec;
            const std::size_t want = std::min(sizeof(scratch), n - out.size());
            const std::size_t got = m_socket.read_some(boost::asio::buffer(scratch, want), ec);
            out.append(scratch, got);
            if (ec == boost::asio::error::would_block || ec == boost::asio::error::try_again) {
                if (std::chrono::steady_clock::now() >= deadline) break;
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
            } else if (ec) {
                break;
            }
        }
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

    // Writes all bytes; false when the connection is gone or the deadline
    // passed first.
    bool write(const std::string& bytes) {
        const auto deadline = std::chrono::steady_clock::now() + m_wait;
        std::size_t done = 0;
        while (done < bytes.size()) {
            boost::system::error_code ec;
            done += m_socket.write_some(
                boost::asio::buffer(bytes.data() + done, bytes.size() - done), ec);
            if (ec == boost::asio::error::would_block || ec == boost::asio::error::try_again) {
                if (std::chrono::steady_clock::now() >= deadline) return false;
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
            } else if (ec) {
                return false;
            }
        }
        return true;
    }

    // Waits until the other side closes (end of file or reset), discarding
    // what arrives meanwhile. True when it closed within `wait`.
    bool wait_closed(std::chrono::milliseconds wait) {
        const auto deadline = std::chrono::steady_clock::now() + wait;
        char scratch[4096];
        for (;;) {
            boost::system::error_code ec;
            m_socket.read_some(boost::asio::buffer(scratch), ec);
            if (ec == boost::asio::error::would_block || ec == boost::asio::error::try_again) {
                if (std::chrono::steady_clock::now() >= deadline) return false;
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
            } else if (ec) {
                return true;  // end of file, reset, or another end
            }
        }
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
    std::chrono::milliseconds m_wait{20000};
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
