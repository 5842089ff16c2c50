// Test support, internal to the tests: a loopback listener that drops every
// new connection attempt, as a server whose accept queue is full does.
//
// It listens with the smallest backlog, never accepts, and fills its accept
// queue with connections of its own at construction; the system then drops
// the SYN of every further attempt, so a connect to port() neither completes
// nor fails until the connecting side gives up.
//
// Thread rule: one thread.
#pragma once

#include <poll.h>
#include <sys/socket.h>

#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <cstdint>
#include <vector>

namespace Core_Socket::testing {

class DroppingListener {
public:
    DroppingListener() : m_acceptor(m_context) {
        namespace ip = boost::asio::ip;
        const ip::tcp::endpoint local(ip::make_address("127.0.0.1"), 0);
        m_acceptor.open(local.protocol());
        m_acceptor.bind(local);
        m_acceptor.listen(0);
        m_port = m_acceptor.local_endpoint().port();
        // A connection that does not complete within a moment found the
        // queue full; it stays pending with the others.
        for (int i = 0; i < 16 && !m_full; ++i) {
            ip::tcp::socket& s = m_fillers.emplace_back(m_context);
            s.open(ip::tcp::v4());
            s.non_blocking(true);
            // The library's connect waits for the outcome; the system's
            // returns at once on a non-blocking socket.
            const ip::tcp::endpoint target(ip::make_address("127.0.0.1"), m_port);
            ::connect(s.native_handle(), target.data(), static_cast<socklen_t>(target.size()));
            pollfd p{s.native_handle(), POLLOUT, 0};
            m_full = ::poll(&p, 1, 300) == 0;
        }
    }
    DroppingListener(const DroppingListener&) = delete;
    DroppingListener& operator=(const DroppingListener&) = delete;

    std::uint16_t port() const { return m_port; }
    // True once a connection attempt was seen to hang.
    bool full() const { return m_full; }

private:
    boost::asio::io_context m_context;
    boost::asio::ip::tcp::acceptor m_acceptor;
    std::vector<boost::asio::ip::tcp::socket> m_fillers;
    std::uint16_t m_port = 0;
    bool m_full = false;
};

}  // namespace Core_Socket::testing
