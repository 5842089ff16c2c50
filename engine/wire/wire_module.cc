#include "wire/wire_module.h"

#include <array>
#include <atomic>
#include <cstdio>
#include <cstring>
#include <mutex>

#include "platform/socket_errors.h"
#include "wire/stream_buffer.h"
#include "wire/udp_pool.h"
#include "wire/wire_context.h"
#include "wire/wire_link.h"
#include "wire/wire_link_pool.h"
#include "wire/wire_settings.h"

namespace Core_Wire {
namespace {

std::array<std::atomic<InterfaceWireCallback*>, InterfaceWire::protocol_client_count>
    g_protocol_clients{};
std::atomic<InterfaceSocketFunc*> g_socket_func{nullptr};
std::atomic<bool> g_stopping{false};

}  // namespace

InterfaceWire::~InterfaceWire() {
    if (instance() == this || instance() == nullptr) {
        uninitialize();
    }
}

void InterfaceWire::initialize() {
    wire_direct_dispatch.store(ENABLE_WIRE_SOCKET_THREAD.load());
    WireContext::create_current();
    for (auto& entry : g_protocol_clients) {
        entry.store(nullptr, std::memory_order_release);
    }
    set_socket_func(nullptr);
    WireLinkPool::create_current();
    UDPPool::create_current();
    destroy_all_wire_groups();
}

void InterfaceWire::start() {
    g_stopping.store(false);
    if (!wire_direct_dispatch.load() && WireLinkPool::current() != nullptr) {
        WireLinkPool::current()->schedule_pump();
    }
}

void InterfaceWire::cleanup() {
    g_stopping.store(true);
    if (wire_direct_dispatch.load()) {
        return;
    }
    if (WireLinkPool* pool = WireLinkPool::current()) {
        pool->cancel_pump();
        pool->cancel_all_pending();
    }
    if (UDPPool* udp = UDPPool::current()) {
        udp->cancel_drain();
    }
}

void InterfaceWire::uninitialize() {
    if (WireLinkPool* pool = WireLinkPool::current()) {
        pool->cancel_pump();
        pool->cancel_all_pending();
    }
    destroy_all_links();
    destroy_all_wire_groups();
    UDPPool::destroy_current();
    WireLinkPool::destroy_current();
    WireContext::destroy_current();
}

void InterfaceWire::report_status(std::ostream& out) {
    const auto links = link_figures();
    const auto groups = wire_group_figures();
    const std::uint64_t link_capacity = std::uint64_t{links.chunks} * links.per_chunk;
    const std::uint64_t group_capacity = std::uint64_t{groups.chunks} * groups.per_chunk;
    out << "Wirelayer objects = " << links.live << ", capacity = " << link_capacity
        << ", mem = " << ((link_capacity * links.record_size) >> 10) << "KB" << '\n';
    out << "wire_group_t objects = " << groups.live << ", capacity = " << group_capacity
        << ", mem = " << ((group_capacity * groups.record_size) >> 10) << "KB" << '\n';
    UDPPool* udp = UDPPool::current();
    out << "UDP queue: send size = " << (udp ? udp->send_size() : 0)
        << ", recv size = " << (udp ? udp->receive_size() : 0) << '\n';
    const wire_buffer_stats_t& stats = wire_buffer_stats();
    out << "Wire Send buffer capacity = " << (stats.send_capacity.load() >> 10)
        << "KB, used = " << (stats.send_used.load() >> 10) << "KB" << '\n';
    out << "Wire Recv buffer capacity = " << (stats.recv_capacity.load() >> 10)
        << "KB, used = " << (stats.recv_used.load() >> 10) << "KB" << '\n';
    wire_counters_t counters;
    if (WireContext* context = WireContext::current()) {
        counters = context->counters();
    }
    out << "num_connected = " << counters.num_connected << '\n';
    out << "num_connected_incoming = " << counters.num_connected_incoming << '\n';
    out << "num_connecting = " << counters.num_connecting << '\n';
    out << "num_connecting_pending = " << counters.num_connecting_pending << '\n';
    if (WireLinkPool* pool = WireLinkPool::current()) {
        pool->report(out);
    }
}

bool InterfaceWire::is_stopping() { return g_stopping.load(); }

InterfaceWireCallback* InterfaceWire::protocol_client(std::size_t index) {
    if (index >= protocol_client_count) {
        return nullptr;
    }
    return g_protocol_clients[index].load(std::memory_order_acquire);
}

bool InterfaceWire::set_protocol_client(std::size_t index, InterfaceWireCallback* client) {
    if (index >= protocol_client_count) {
        return false;
    }
    g_protocol_clients[index].store(client, std::memory_order_release);
    return true;
}

InterfaceSocketFunc* InterfaceWire::socket_func() {
    return g_socket_func.load(std::memory_order_acquire);
}

void InterfaceWire::set_socket_func(InterfaceSocketFunc* func) {
    g_socket_func.store(func, std::memory_order_release);
}

void InterfaceWire::on_tcp_accepted(void* conn, void*& link, const std::string& remote_address,
                                    std::uint16_t remote_port, std::uint16_t local_port) {
    link = nullptr;
    WireContext* context = WireContext::current();
    if (context == nullptr) {
        return;
    }
    std::uint32_t address = 0;
    unsigned parts[4] = {0, 0, 0, 0};
    if (std::sscanf(remote_address.c_str(), "%u.%u.%u.%u", &parts[0], &parts[1], &parts[2],
                    &parts[3]) == 4) {
        unsigned char bytes[4] = {
            static_cast<unsigned char>(parts[0]), static_cast<unsigned char>(parts[1]),
            static_cast<unsigned char>(parts[2]), static_cast<unsigned char>(parts[3])};
        std::memcpy(&address, bytes, sizeof(address));
    }
    {
        std::lock_guard<std::mutex> guard(context->m_lock);
        if (parts[0] != 127) {
            const wire_counters_t& c = context->m_counters;
            const bool full =
                (context->m_max_connected != 0 && c.num_connected >= context->m_max_connected) ||
                (context->m_max_connected_incoming != 0 &&
                 c.num_connected_incoming >= context->m_max_connected_incoming);
            if (full && !(context->m_admission_filter && context->m_admission_filter(address))) {
                return;
            }
        }
        ++context->m_counters.num_connected;
        ++context->m_counters.num_connected_incoming;
    }
    WireLinkLayer* created = create_link();
    created->m_incoming = true;
    created->m_connection = conn;
    created->m_remote_address = address;
    created->m_remote_port = remote_port;
    created->m_local_port = local_port;
    created->m_caller_kind = TCP_CALLER_INCOMING;
    link = created;
}

void InterfaceWire::on_tcp_closed(void* conn, void*& link, const boost::system::error_code& ec) {
    if (WireLinkPool::current() == nullptr || link == nullptr) {
        link = nullptr;
        return;
    }
    on_link_tcp_closed(conn, link, ec);
}

void InterfaceWire::on_tcp_connected(void* conn, void* link, std::uint32_t local_address,
                                     std::uint16_t local_port, std::uint32_t remote_address,
                                     std::uint16_t remote_port) {
    if (WireLinkPool::current() != nullptr) {
        on_link_tcp_connected(conn, link, local_address, local_port, remote_address, remote_port);
    }
}

void InterfaceWire::get_recv_allowance(void* conn, void* link, std::uint32_t& allowance) {
    allowance = 0;
    if (WireLinkPool::current() != nullptr) {
        get_link_recv_allowance(conn, link, allowance);
    }
}

void InterfaceWire::on_tcp_received(void* conn, void* link, const char* data, std::size_t size) {
    if (WireLinkPool::current() != nullptr) {
        on_link_tcp_received(conn, link, data, size);
    }
}

void InterfaceWire::get_send_allowance(void* conn, void* link, std::uint32_t& allowance) {
    allowance = 0;
    if (WireLinkPool::current() != nullptr) {
        get_link_send_allowance(conn, link, allowance);
    }
}

void InterfaceWire::get_send_data(void* conn, void* link, const char*& data, std::uint32_t& size) {
    data = nullptr;
    if (WireLinkPool::current() == nullptr) {
        size = 0;
        return;
    }
    get_link_send_data(conn, link, data, size);
}

void InterfaceWire::on_send_data_taken(void* conn, void* link, std::uint32_t count) {
    if (WireLinkPool::current() != nullptr) {
        on_link_send_data_taken(conn, link, count);
    }
}

void InterfaceWire::on_udp_received(const Core_Socket::udp_datagram_ptr& datagram) {
    if (UDPPool* udp = UDPPool::current()) {
        udp->on_received(datagram);
    }
}

void InterfaceWire::get_udp_datagram(Core_Socket::udp_datagram_ptr& datagram) {
    UDPPool* udp = UDPPool::current();
    datagram = udp ? udp->pop_send() : nullptr;
}

}  // namespace Core_Wire
