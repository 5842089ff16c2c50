#include "wire/udp_pool.h"

#include <algorithm>
#include <memory>

#include "common/timestamp_auto.h"
#include "wire/socket_func.h"
#include "wire/wire_module.h"
#include "wire/wire_settings.h"

namespace Core_Wire {
namespace {
std::unique_ptr<UDPPool> g_udp_pool;
}  // namespace

UDPPool* UDPPool::current() { return g_udp_pool.get(); }

void UDPPool::create_current() {
    g_udp_pool.reset();
    g_udp_pool = std::make_unique<UDPPool>();
}

void UDPPool::destroy_current() { g_udp_pool.reset(); }

void UDPPool::add_handler(udp_handler_t* handler) {
    std::lock_guard<std::mutex> guard(m_lock);
    m_handlers.push_back(handler);
}

void UDPPool::remove_handler(udp_handler_t* handler) {
    std::lock_guard<std::mutex> guard(m_lock);
    m_handlers.erase(std::remove(m_handlers.begin(), m_handlers.end(), handler), m_handlers.end());
}

std::vector<udp_handler_t*> UDPPool::handlers() {
    std::lock_guard<std::mutex> guard(m_lock);
    return m_handlers;
}

void UDPPool::queue_send(Core_Socket::udp_datagram_ptr datagram) {
    {
        std::lock_guard<std::mutex> guard(m_send_lock);
        m_send.push_back(std::move(datagram));
    }
    if (InterfaceSocketFunc* socket = InterfaceWire::socket_func()) {
        socket->udp_send();
    }
}

Core_Socket::udp_datagram_ptr UDPPool::pop_send() {
    std::lock_guard<std::mutex> guard(m_send_lock);
    if (m_send.empty()) {
        return nullptr;
    }
    Core_Socket::udp_datagram_ptr front = std::move(m_send.front());
    m_send.pop_front();
    return front;
}

void UDPPool::on_received(const Core_Socket::udp_datagram_ptr& datagram) {
    for (udp_handler_t* handler : handlers()) {
        if (handler->take_early(datagram)) {
            return;
        }
    }
    if (wire_direct_dispatch.load()) {
        for (udp_handler_t* handler : handlers()) {
            if (handler->take(datagram)) {
                return;
            }
        }
        return;
    }
    {
        std::lock_guard<std::mutex> guard(m_receive_lock);
        m_receive.push_back(datagram);
    }
    if (m_token.pending_count() == 0) {
        m_token.post([this] { drain(); });
    }
}

void UDPPool::drain() {
    const Core_Common::timestamp_auto began;
    for (;;) {
        Core_Socket::udp_datagram_ptr datagram;
        {
            std::lock_guard<std::mutex> guard(m_receive_lock);
            if (m_receive.empty()) {
                return;
            }
            datagram = std::move(m_receive.front());
            m_receive.pop_front();
        }
        for (udp_handler_t* handler : handlers()) {
            if (handler->take(datagram)) {
                break;
            }
        }
        if (began.elapsed_milliseconds() > kDrainBudgetMs && receive_size() != 0) {
            m_token.post([this] { drain(); });
            return;
        }
    }
}

std::size_t UDPPool::send_size() {
    std::lock_guard<std::mutex> guard(m_send_lock);
    return m_send.size();
}

std::size_t UDPPool::receive_size() {
    std::lock_guard<std::mutex> guard(m_receive_lock);
    return m_receive.size();
}

}  // namespace Core_Wire
