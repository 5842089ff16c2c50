#include "wire/wire_link.h"

#include <algorithm>
#include <functional>
#include <set>

#include "common/fatal_error.h"
#include "common/shared_record_pool.h"
#include "platform/socket_errors.h"
#include "wire/socket_func.h"
#include "wire/wire_callback.h"
#include "wire/wire_context.h"
#include "wire/wire_link_pool.h"
#include "wire/wire_module.h"
#include "wire/wire_settings.h"

namespace Core_Wire {

using boost::system::error_code;

namespace {

using link_pool = Core_Common::shared_record_pool<WireLinkLayer>;
constexpr const char* kLinkRecordName = "WireLinkLayer";
constexpr std::uint32_t kSmallestAllowance = 1024;

std::mutex g_links_lock;
std::set<WireLinkLayer*>& live_links() {
    static std::set<WireLinkLayer*> links;
    return links;
}

// Hands `work` to the main thread through `token` (or runs it here in
// direct-dispatch mode).
void dispatch(Core_Common::MessageToken& token, std::function<void()> work) {
    if (wire_direct_dispatch.load()) {
        work();
    } else {
        token.post(std::move(work));
    }
}

InterfaceWireCallback* client_of(const WireLinkLayer* link) {
    return link->m_client_index == 0 ? nullptr
                                     : InterfaceWire::protocol_client(link->m_client_index);
}

void check_owner(const WireLinkLayer* link, const void* owner) {
    if (link == nullptr || link->m_owner != owner) {
        throw static_cast<bool>(link != nullptr && link->m_closing);
    }
}

// The reporting connection must be the link's (or the link has none).
WireLinkLayer* checked_link(void* conn, void* link_handle) {
    auto* link = static_cast<WireLinkLayer*>(link_handle);
    std::lock_guard<std::mutex> guard(link->m_lock);
    if (link->m_connection != nullptr && link->m_connection != conn) {
        Core_Common::fatal_error();
    }
    return link;
}

void remove_from_groups(WireLinkLayer* link) {
    std::lock_guard<std::mutex> guard(link->m_lock);
    link->m_groups[0] = nullptr;
    link->m_groups[1] = nullptr;
}

void account(WireLinkLayer* link, bool receive, std::uint64_t n) {
    const std::uint64_t bytes = bytes_with_overhead(n);
    (receive ? link->m_receive_budget : link->m_send_budget).counter().add(bytes);
    if (WireContext* context = WireContext::current()) {
        (receive ? context->m_receive_budget : context->m_send_budget).counter().add(bytes);
    }
    std::lock_guard<std::mutex> guard(link->m_lock);
    for (wire_group_t* group : link->m_groups) {
        if (group != nullptr) {
            (receive ? group->m_receive_budget : group->m_send_budget).counter().add(bytes);
        }
    }
}

std::uint32_t allowance_of(WireLinkLayer* link, bool receive) {
    std::uint32_t allowance = (receive ? link->m_receive_budget : link->m_send_budget).remaining();
    if (WireContext* context = WireContext::current()) {
        allowance = std::min(
            allowance, (receive ? context->m_receive_budget : context->m_send_budget).remaining());
    }
    {
        std::lock_guard<std::mutex> guard(link->m_lock);
        for (wire_group_t* group : link->m_groups) {
            if (group != nullptr) {
                allowance = std::min(
                    allowance,
                    (receive ? group->m_receive_budget : group->m_send_budget).remaining());
            }
        }
    }
    return allowance < kSmallestAllowance ? 0 : allowance;
}

void resume_send(WireLinkLayer* link) {
    if (link->m_send_token.pending_count() != 0) {
        return;
    }
    dispatch(link->m_send_token, [link] {
        if (link->m_connecting || link->m_pending) {
            return;
        }
        std::lock_guard<std::mutex> guard(link->m_lock);
        if (link->m_connection != nullptr) {
            if (InterfaceSocketFunc* socket = InterfaceWire::socket_func()) {
                socket->tcp_send(link, link->m_connection);
            }
        }
    });
}

// Offers bytes to the link's client; returns what it consumed.
std::int32_t offer(WireLinkLayer* link, const char* data, std::size_t size, std::size_t new_bytes) {
    if (size == 0) {
        return 0;
    }
    if (link->m_client_index == 0) {
        for (std::uint8_t i = 1; i < InterfaceWire::protocol_client_count; ++i) {
            InterfaceWireCallback* candidate = InterfaceWire::protocol_client(i);
            if (candidate != nullptr &&
                candidate->recognize(data, size, link->m_remote_address, link->m_remote_port,
                                     link->m_local_address, link->m_local_port)) {
                link->m_client_index = i;
                candidate->attach(link, link->m_owner);
                break;
            }
        }
    }
    InterfaceWireCallback* client = client_of(link);
    if (client == nullptr || link->m_owner == nullptr) {
        return 0;
    }
    std::int32_t consumed = 0;
    client->on_received(link, link->m_owner, data, size, new_bytes, consumed);
    if (consumed < -2 || (consumed > 0 && static_cast<std::size_t>(consumed) > size)) {
        Core_Common::fatal_error();
    }
    return consumed;
}

void process_received(WireLinkLayer* link) {
    if (link->m_closing || link->m_close_after_flush) {
        return;
    }
    const stream_buffer::view_t view = link->m_receive_buffer.view();
    std::int32_t result = offer(link, view.data, view.size, view.new_bytes);
    std::size_t amount = 0;
    if (result == -1 || result == -2) {
        amount = view.size;
    } else {
        amount = static_cast<std::size_t>(result);
        while (result > 0 && amount < view.size) {
            result = offer(link, view.data + amount, view.size - amount, 0);
            if (result == -1 || result == -2) {
                amount = view.size;
                break;
            }
            amount += static_cast<std::size_t>(result);
            if (amount > view.size) {
                Core_Common::fatal_error();
            }
        }
    }
    link->m_receive_buffer.consume(amount);
    if (result == -1) {
        link->m_closing = true;
        link->m_close_after_flush = false;
        tell_client_closed(link, error_code());
        close_link(link, false);
    } else if (result == -2) {
        link->m_closing = true;
        link->m_close_after_flush = true;
        tell_client_closed(link, error_code());
        resume_send(link);
    }
}

void link_connected(WireLinkLayer* link) {
    if (link->m_pending) {
        Core_Common::fatal_error();
    }
    link->m_connecting = false;
    WireContext* context = WireContext::current();
    if (context != nullptr) {
        std::lock_guard<std::mutex> guard(context->m_lock);
        --context->m_counters.num_connecting;
        ++context->m_counters.num_connected;
    }
    if (link->m_closing) {
        return;
    }
    InterfaceWireCallback* client = client_of(link);
    if (client != nullptr && link->m_owner != nullptr) {
        client->on_connected(link, link->m_owner);
    }
    resume_send(link);
    std::uint32_t local_address = 0;
    {
        std::lock_guard<std::mutex> guard(link->m_lock);
        local_address = link->m_local_address;
    }
    if (context != nullptr) {
        context->note_local_address(local_address);
    }
}

void send_drained(WireLinkLayer* link) {
    if (link->m_send_buffer.size() != 0) {
        return;
    }
    if (link->m_close_after_flush) {
        close_link(link, true);
        return;
    }
    InterfaceWireCallback* client = client_of(link);
    if (!link->m_closing && client != nullptr && link->m_owner != nullptr) {
        client->on_sent(link, link->m_owner);
    }
}

}  // namespace

WireLinkLayer::WireLinkLayer() = default;
WireLinkLayer::~WireLinkLayer() = default;

WireLinkLayer* create_link() {
    WireLinkLayer* link = link_pool::create(kLinkRecordName);
    std::lock_guard<std::mutex> guard(g_links_lock);
    live_links().insert(link);
    return link;
}

void destroy_link(WireLinkLayer* link) {
    {
        std::lock_guard<std::mutex> guard(g_links_lock);
        live_links().erase(link);
    }
    link_pool::destroy(link);
}

std::size_t live_link_count() {
    std::lock_guard<std::mutex> guard(g_links_lock);
    return live_links().size();
}

Core_Common::record_pool_figures_t link_figures() { return link_pool::figures(); }

void destroy_all_links() {
    std::set<WireLinkLayer*> all;
    {
        std::lock_guard<std::mutex> guard(g_links_lock);
        all = live_links();
    }
    const error_code aborted =
        Core_Platform::make_socket_error(Core_Platform::SOCKET_ERROR_OPERATION_ABORTED);
    for (WireLinkLayer* link : all) {
        {
            std::lock_guard<std::mutex> guard(link->m_lock);
            link->m_connection = nullptr;
        }
        tell_client_closed(link, aborted);
        destroy_link(link);
    }
}

void link_send(WireLinkLayer* link, void* owner, const void* data, std::size_t size) {
    check_owner(link, owner);
    if (size == 0) {
        return;
    }
    link->m_send_buffer.append(static_cast<const char*>(data), size);
    resume_send(link);
}

void link_release(void* owner, WireLinkLayer*& link) {
    WireLinkLayer* released = link;
    check_owner(released, owner);
    released->m_owner = nullptr;
    released->m_closing = true;
    released->m_close_after_flush = false;
    link = nullptr;
    close_link(released, false);
    if (released->m_pending) {
        WireLinkPool* pool = WireLinkPool::current();
        if (pool != nullptr && pool->remove_pending(released)) {
            link_closed(released, error_code());
        }
    }
}

void link_expect(WireLinkLayer* link, void* owner, std::size_t bytes) {
    check_owner(link, owner);
    link->m_receive_buffer.expect(bytes);
}

void link_remote_endpoint(WireLinkLayer* link, void* owner, std::uint32_t& address,
                          std::uint16_t& port) {
    check_owner(link, owner);
    std::lock_guard<std::mutex> guard(link->m_lock);
    address = link->m_remote_address;
    port = link->m_remote_port;
}

void close_link(WireLinkLayer* link, bool graceful) {
    remove_from_groups(link);
    std::lock_guard<std::mutex> guard(link->m_lock);
    if (link->m_connection != nullptr) {
        if (InterfaceSocketFunc* socket = InterfaceWire::socket_func()) {
            socket->tcp_close(link, link->m_connection, graceful);
        }
    }
}

void tell_client_closed(WireLinkLayer* link, const error_code& ec) {
    remove_from_groups(link);
    InterfaceWireCallback* client = client_of(link);
    if (client != nullptr && link->m_owner != nullptr) {
        client->on_closed(link, link->m_owner, ec);
    }
}

void link_closed(WireLinkLayer* link, const error_code& ec) {
    WireContext* context = WireContext::current();
    InterfaceWireCallback* client = client_of(link);
    if (link->m_pending) {
        link->m_pending = false;
        if (context != nullptr) {
            std::lock_guard<std::mutex> guard(context->m_lock);
            --context->m_counters.num_connecting;
            --context->m_counters.num_connecting_pending;
        }
    } else if (link->m_connecting) {
        link->m_connecting = false;
        if (context != nullptr) {
            std::lock_guard<std::mutex> guard(context->m_lock);
            --context->m_counters.num_connecting;
        }
        if (client != nullptr && link->m_owner != nullptr) {
            client->on_connect_failed(link, link->m_owner, ec);
        }
    } else if (context != nullptr) {
        std::lock_guard<std::mutex> guard(context->m_lock);
        --context->m_counters.num_connected;
        if (link->m_incoming) {
            --context->m_counters.num_connected_incoming;
        }
    }
    // The client sees every byte before the close.
    if (link->m_receive_token.pending_count() != 0) {
        link->m_receive_token.cancel_all();
        process_received(link);
    }
    tell_client_closed(link, ec);
    destroy_link(link);
}

void on_link_tcp_closed(void* conn, void*& link_handle, const error_code& ec) {
    WireLinkLayer* link = checked_link(conn, link_handle);
    {
        std::lock_guard<std::mutex> guard(link->m_lock);
        link->m_connection = nullptr;
    }
    link_handle = nullptr;
    dispatch(link->m_general_token, [link, ec] { link_closed(link, ec); });
}

void on_link_tcp_connected(void* conn, void* link_handle, std::uint32_t local_address,
                           std::uint16_t local_port, std::uint32_t remote_address,
                           std::uint16_t remote_port) {
    WireLinkLayer* link = checked_link(conn, link_handle);
    {
        std::lock_guard<std::mutex> guard(link->m_lock);
        link->m_local_address = local_address;
        link->m_local_port = local_port;
        link->m_remote_address = remote_address;
        link->m_remote_port = remote_port;
    }
    dispatch(link->m_general_token, [link] { link_connected(link); });
}

void get_link_recv_allowance(void* conn, void* link_handle, std::uint32_t& allowance) {
    WireLinkLayer* link = checked_link(conn, link_handle);
    // Bounded buffering, but never short of the message the client reads.
    const std::size_t limit =
        std::max(WireLinkLayer::kReceiveBufferLimit, link->m_receive_buffer.expected());
    if (link->m_receive_buffer.size() > limit) {
        allowance = 0;
        return;
    }
    allowance = allowance_of(link, true);
}

void on_link_tcp_received(void* conn, void* link_handle, const char* data, std::size_t size) {
    WireLinkLayer* link = checked_link(conn, link_handle);
    link->m_receive_buffer.append(data, size);
    account(link, true, size);
    if (link->m_receive_token.pending_count() == 0) {
        dispatch(link->m_receive_token, [link] { process_received(link); });
    }
}

void get_link_send_allowance(void* conn, void* link_handle, std::uint32_t& allowance) {
    WireLinkLayer* link = checked_link(conn, link_handle);
    allowance = allowance_of(link, false);
}

void get_link_send_data(void* conn, void* link_handle, const char*& data, std::uint32_t& size) {
    WireLinkLayer* link = checked_link(conn, link_handle);
    stream_buffer::view_t view = link->m_send_buffer.view();
    if (view.size == 0 && wire_direct_dispatch.load()) {
        link->m_send_buffer.consume(0);
        send_drained(link);
        view = link->m_send_buffer.view();
    }
    if (view.size == 0) {
        if (!wire_direct_dispatch.load()) {
            dispatch(link->m_general_token, [link] { send_drained(link); });
        }
        data = nullptr;
        size = 0;
        return;
    }
    data = view.data;
    size = static_cast<std::uint32_t>(std::min<std::size_t>(view.size, size));
}

void on_link_send_data_taken(void* conn, void* link_handle, std::uint32_t count) {
    WireLinkLayer* link = checked_link(conn, link_handle);
    link->m_send_buffer.consume(count);
    if (count != 0) {
        account(link, false, count);
    }
}

}  // namespace Core_Wire
