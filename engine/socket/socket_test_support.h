// Test support, internal to the socket layer's tests: a started socket
// module and a recording user that plays the layer above.
#pragma once

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "framework/registry.h"
#include "platform/threads.h"
#include "socket/socket_callback.h"
#include "socket/socket_module.h"
#include "socket/socket_settings.h"

namespace Core_Socket::testing {

// Plays the layer above: records every event and serves allowances and
// bytes to send. Every member is safe to use from the test's thread while a
// socket thread reports.
class recording_user final : public InterfaceSocketCallback {
public:
    std::atomic<std::uint32_t> recv_allowance{0xFFFFFFFFu};
    std::atomic<std::uint32_t> send_allowance{0xFFFFFFFFu};
    // How often the connection asked for a receive allowance.
    std::atomic<int> recv_allowance_asks{0};

    void on_tcp_accepted(void*, void*& link, const std::string&, std::uint16_t,
                         std::uint16_t) override {
        link = nullptr;
    }
    void on_tcp_closed(void* conn, void*& link, const boost::system::error_code& ec) override {
        std::lock_guard<std::mutex> guard(m_lock);
        check(conn, link);
        ++m_closed;
        m_close_error = ec;
        link = nullptr;
        m_cv.notify_all();
    }
    void on_tcp_connected(void* conn, void* link, std::uint32_t local_address,
                          std::uint16_t local_port, std::uint32_t remote_address,
                          std::uint16_t remote_port) override {
        std::lock_guard<std::mutex> guard(m_lock);
        check(conn, link);
        ++m_connected;
        m_local_address = local_address;
        m_local_port = local_port;
        m_remote_address = remote_address;
        m_remote_port = remote_port;
        m_thread_name = Core_Platform::current_thread_name();
        m_cv.notify_all();
    }
    void get_recv_allowance(void* conn, void* link, std::uint32_t& allowance) override {
        std::lock_guard<std::mutex> guard(m_lock);
        check(conn, link);
        ++recv_allowance_asks;
        allowance = recv_allowance.load();
    }
    void on_tcp_received(void* conn, void* link, const char* data, std::size_t size) override {
        std::lock_guard<std::mutex> guard(m_lock);
        check(conn, link);
        m_received.append(data, size);
        m_cv.notify_all();
    }
    void get_send_allowance(void* conn, void* link, std::uint32_t& allowance) override {
        std::lock_guard<std::mutex> guard(m_lock);
        check(conn, link);
        allowance = send_allowance.load();
    }
    void get_send_data(void* conn, void* link, const char*& data, std::uint32_t& size) override {
        std::lock_guard<std::mutex> guard(m_lock);
        check(conn, link);
        const std::size_t left = m_to_send.size() - m_sent;
        data = left ? m_to_send.data() + m_sent : nullptr;
        size = static_cast<std::uint32_t>(std::min<std::size_t>(left, size));
    }
    void on_send_data_taken(void* conn, void* link, std::uint32_t count) override {
        std::lock_guard<std::mutex> guard(m_lock);
        check(conn, link);
        m_sent += count;
    }
    void on_udp_received(const udp_datagram_ptr& datagram) override {
        std::lock_guard<std::mutex> guard(m_lock);
        m_datagrams_received.push_back(datagram);
        m_cv.notify_all();
    }
    void get_udp_datagram(udp_datagram_ptr& datagram) override {
        std::lock_guard<std::mutex> guard(m_lock);
        ++m_datagram_asks;
        if (m_datagrams_to_send.empty()) {
            datagram.reset();
            return;
        }
        datagram = m_datagrams_to_send.front();
        m_datagrams_to_send.erase(m_datagrams_to_send.begin());
    }

    // Queues bytes for the connection to take.
    void queue_send(const std::string& bytes) {
        std::lock_guard<std::mutex> guard(m_lock);
        m_to_send += bytes;
    }
    void queue_datagram(udp_datagram_ptr datagram) {
        std::lock_guard<std::mutex> guard(m_lock);
        m_datagrams_to_send.push_back(std::move(datagram));
    }

    // Waits until `done` holds (checked under the lock), at most `wait`.
    bool wait_until(const std::function<bool()>& done,
                    std::chrono::milliseconds wait = std::chrono::seconds(10)) {
        std::unique_lock<std::mutex> lock(m_lock);
        return m_cv.wait_for(lock, wait, done);
    }
    template <class F>
    auto read(F f) {
        std::lock_guard<std::mutex> guard(m_lock);
        return f();
    }

    // Fields read under read()/wait_until().
    void* m_conn = nullptr;
    int m_closed = 0;
    int m_connected = 0;
    int m_foreign_reports = 0;
    boost::system::error_code m_close_error;
    std::uint32_t m_local_address = 0, m_remote_address = 0;
    std::uint16_t m_local_port = 0, m_remote_port = 0;
    std::string m_thread_name;
    std::string m_received;
    std::string m_to_send;
    std::size_t m_sent = 0;
    std::vector<udp_datagram_ptr> m_datagrams_received;
    std::vector<udp_datagram_ptr> m_datagrams_to_send;
    int m_datagram_asks = 0;

private:
    void check(void* conn, void* link) {
        if (link != this || (m_conn != nullptr && conn != m_conn)) {
            ++m_foreign_reports;
        }
    }

    std::mutex m_lock;
    std::condition_variable m_cv;
};

// A socket module created, initialised and started for one test, reporting
// to `user`; torn down the way the module's own life-cycle does it.
class started_socket_module {
public:
    explicit started_socket_module(InterfaceSocketCallback* user, int timeout_seconds = 10) {
        m_saved_timeout = tcp_io_timeout_seconds.load();
        socket_incoming_threads.store(1);
        socket_outgoing_threads.store(1);
        tcp_io_timeout_seconds.store(timeout_seconds);
        InterfaceSocket::reset_instance(new InterfaceSocket);
        Core_Common::initialize_module(*InterfaceSocket::instance());
        InterfaceSocket::set_tcp_callback(user);
        Core_Common::start_module(*InterfaceSocket::instance());
    }
    ~started_socket_module() {
        if (InterfaceSocket* module = InterfaceSocket::instance()) {
            module->stop();
            module->cleanup();
            module->uninitialize();
        }
        InterfaceSocket::reset_instance();
        InterfaceSocket::set_tcp_callback(nullptr);
        tcp_io_timeout_seconds.store(m_saved_timeout);
    }
    InterfaceSocket& module() { return *InterfaceSocket::instance(); }

private:
    std::int32_t m_saved_timeout;
};

// Connects `user` (as its own link) to host:port through the module.
inline void connect_user(recording_user& user, const std::string& host, std::uint16_t port) {
    void* conn = nullptr;
    InterfaceSocket::tcp_connect(&user, conn, host, port, false);
    user.read([&] { return user.m_conn = conn; });
}

}  // namespace Core_Socket::testing
