// Sequential sessions on loopback against a minimal replying peer: one
// request, one reply, one TCP connection per session, the caller pumping the
// engine in a tight loop. Prints sessions per second and the median and
// 99th-percentile round trip, next to the same exchange done with plain
// blocking sockets (the natural baseline) measured in the same run.
#include <algorithm>
#include <boost/asio/connect.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/read.hpp>
#include <boost/asio/write.hpp>
#include <chrono>
#include <cstdio>
#include <string>
#include <thread>
#include <vector>

#include "platform/strings.h"
#include "session/soap_handler.h"
#include "socket/scripted_peer_testing.h"
#include "startup/network_stack_testing.h"
#include "wire/wire_context.h"

namespace {

using clock_type = std::chrono::steady_clock;
constexpr int kWarmUp = 200;
constexpr int kSessions = 5000;

std::string reply_for(const std::string& request, const std::string& body) {
    std::string out;
    auto be = [&](std::uint64_t v, int n) {
        for (int i = n - 1; i >= 0; --i) out.push_back(static_cast<char>((v >> (8 * i)) & 0xFF));
    };
    be(20, 2);
    out += std::string("\0\1", 2);
    be(body.size(), 4);
    out += request.substr(24, 8);  // the request's sequence
    out += std::string(4, '\0');   // the rest of the 20-byte header
    return out + body;
}

class bench_handler : public Core_SOAPClient::InterfaceSOAPClientSimpleHandler {
public:
    void on_reply(const Core_Common::soap_client_received_t&) override { ++done; }
    void on_error(const Core_Common::service_error_t& e,
                  const boost::system::error_code& ec) override {
        ++done;
        ++errors;
        std::fprintf(stderr, "session error %d %s %s\n", e.code,
                     Core_Platform::wide_to_utf8(e.message).c_str(), ec.message().c_str());
    }
    int done = 0;
    int errors = 0;
};

void print(const char* name, std::vector<double>& micros, double seconds) {
    std::sort(micros.begin(), micros.end());
    const double median = micros[micros.size() / 2];
    const double p99 = micros[micros.size() * 99 / 100];
    std::printf("%-28s %8.0f sessions/s   median %7.1f us   p99 %7.1f us\n", name,
                micros.size() / seconds, median, p99);
}

}  // namespace

int main() {
    using Core_Socket::testing::PeerConnection;
    using Core_Socket::testing::ScriptedPeer;
    const std::string body(512, 'q');  // a fixed request body: every run does the same work
    ScriptedPeer peer([&](PeerConnection& c) {
        c.use_blocking_io();
        std::string request = c.read_request();
        if (request.size() >= 38) {
            c.write(reply_for(request, "ok"));
        }
        c.wait_closed(std::chrono::seconds(5));
    });

    std::vector<double> engine_micros;
    double engine_seconds = 0;
    int errors = 0;
    {
        Core_Wire::testing::network_stack stack;
        bench_handler handler;
        handler.set_server("127.0.0.1:" + std::to_string(peer.port()), 8080, 0, 0);
        for (int i = 0; i < kWarmUp + kSessions; ++i) {
            const auto t0 = clock_type::now();
            const int target = handler.done + 1;
            handler.send(body);
            bool reported = false;
            while (handler.done < target) {
                Core_Wire::testing::network_stack::pump();
                // Tight, but lets the socket and peer threads have the
                // processor on a two-core machine.
                std::this_thread::yield();
                if (!reported && clock_type::now() - t0 > std::chrono::seconds(2)) {
                    reported = true;
                    auto c = Core_Wire::WireContext::current()->counters();
                    std::fprintf(stderr,
                                 "stall at %d: accepted %d finished %d connecting %u connected %u "
                                 "pending %u\n",
                                 i, peer.accepted(), peer.finished(), c.num_connecting,
                                 c.num_connected, c.num_connecting_pending);
                }
            }
            if (i >= kWarmUp) {
                engine_micros.push_back(
                    std::chrono::duration<double, std::micro>(clock_type::now() - t0).count());
            }
        }
        for (double m : engine_micros) engine_seconds += m / 1e6;
        errors = handler.errors;
    }

    // Baseline: the same exchange with blocking sockets and no engine.
    std::vector<double> plain_micros;
    double plain_seconds = 0;
    {
        boost::asio::io_context context;
        std::string request = std::string("3A9C1E07B5D2F846") + std::string("\x00\x16\x00\x01", 4) +
                              std::string("\x00\x00\x02\x00", 4) + std::string(8, '\x01') +
                              std::string(6, '\0') + body;
        for (int i = 0; i < kWarmUp + kSessions; ++i) {
            const auto t0 = clock_type::now();
            boost::asio::ip::tcp::socket s(context);
            s.connect({boost::asio::ip::make_address("127.0.0.1"), peer.port()});
            s.set_option(boost::asio::ip::tcp::no_delay(true));
            boost::asio::write(s, boost::asio::buffer(request));
            char reply[22];
            boost::asio::read(s, boost::asio::buffer(reply));
            s.close();
            if (i >= kWarmUp) {
                plain_micros.push_back(
                    std::chrono::duration<double, std::micro>(clock_type::now() - t0).count());
            }
        }
        for (double m : plain_micros) plain_seconds += m / 1e6;
    }

    std::printf("sequential sessions on loopback, %d sessions, %zu-byte body\n", kSessions,
                body.size());
    print("engine (send + pump)", engine_micros, engine_seconds);
    print("plain blocking sockets", plain_micros, plain_seconds);
    std::printf("engine / plain throughput ratio: %.2f\n",
                (kSessions / engine_seconds) / (kSessions / plain_seconds));
    if (errors != 0) {
        std::printf("errors: %d\n", errors);
        return 1;
    }
    return 0;
}
