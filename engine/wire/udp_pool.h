// Public engine surface: the wire layer's UDP queues.
//
// Received datagrams are offered to the registered handlers: first on the
// UDP service thread (take_early), then, if none took it, on the main thread
// (take) by a drain task posted through the pool's token; the drain task
// yields after 100 ms and posts itself again. Datagrams to send wait in the
// send queue until the socket layer asks for them. The engine registers no
// handler and queues nothing, so both queues stay empty.
//
// Thread rule: handlers are added and removed on the main thread; on_received
// and pop_send run on the UDP service thread; the drain task on the main
// thread. Each queue has its own lock; the handler list has the pool's.
#pragma once

#include <cstddef>
#include <deque>
#include <mutex>
#include <vector>

#include "common/message_token.h"
#include "socket/socket_callback.h"

namespace Core_Wire {

class udp_handler_t {
public:
    virtual ~udp_handler_t() = default;
    // Asked on the UDP service thread; true takes the datagram.
    virtual bool take_early(const Core_Socket::udp_datagram_ptr& datagram) = 0;
    // Asked on the main thread; true takes the datagram.
    virtual bool take(const Core_Socket::udp_datagram_ptr& datagram) = 0;
};

class UDPPool {
public:
    static constexpr std::int64_t kDrainBudgetMs = 100;

    static UDPPool* current();
    static void create_current();
    static void destroy_current();

    void add_handler(udp_handler_t* handler);
    void remove_handler(udp_handler_t* handler);

    // Queues a datagram for sending and asks the socket layer to send.
    void queue_send(Core_Socket::udp_datagram_ptr datagram);
    // The front of the send queue, or an empty handle.
    Core_Socket::udp_datagram_ptr pop_send();
    // A received datagram (UDP service thread).
    void on_received(const Core_Socket::udp_datagram_ptr& datagram);

    std::size_t send_size();
    std::size_t receive_size();
    // Cancels a queued drain task.
    void cancel_drain() { m_token.cancel_all(); }

private:
    void drain();
    std::vector<udp_handler_t*> handlers();

    std::mutex m_lock;
    std::vector<udp_handler_t*> m_handlers;
    std::mutex m_send_lock;
    std::deque<Core_Socket::udp_datagram_ptr> m_send;
    std::mutex m_receive_lock;
    std::deque<Core_Socket::udp_datagram_ptr> m_receive;
    Core_Common::MessageToken m_token;
};

}  // namespace Core_Wire
