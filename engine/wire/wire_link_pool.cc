#include "wire/wire_link_pool.h"

#include <map>
#include <memory>
#include <vector>

#include "common/fatal_error.h"
#include "common/main_thread.h"
#include "platform/socket_errors.h"
#include "wire/socket_func.h"
#include "wire/wire_context.h"
#include "wire/wire_link.h"
#include "wire/wire_module.h"

namespace Core_Wire {
namespace {

std::unique_ptr<WireLinkPool> g_pool;

}  // namespace

WireLinkPool* WireLinkPool::current() { return g_pool.get(); }

void WireLinkPool::create_current() {
    g_pool.reset();
    g_pool = std::make_unique<WireLinkPool>();
}

void WireLinkPool::destroy_current() { g_pool.reset(); }

WireLinkPool::~WireLinkPool() = default;

bool WireLinkPool::connect_link(void* owner, WireLinkLayer*& link, const std::string& host,
                                std::uint16_t port, std::uint8_t kind, bool at_front, bool tls) {
    Core_Common::expect_main_thread();
    WireLinkLayer* created = create_link();
    created->m_tls = tls;
    link = created;
    created->m_client_index = static_cast<std::uint8_t>(InterfaceWire::soap_client_index);
    created->m_owner = owner;
    created->m_host = host;
    created->m_remote_port = port;
    created->m_caller_kind = kind;
    created->m_pending = true;
    {
        std::lock_guard<std::mutex> guard(m_lock);
        if (at_front) {
            m_pending.push_front(created);
        } else {
            m_pending.push_back(created);
        }
    }
    if (WireContext* context = WireContext::current()) {
        std::lock_guard<std::mutex> guard(context->m_lock);
        ++context->m_counters.num_connecting;
        ++context->m_counters.num_connecting_pending;
    }
    return start_next_pending();
}

bool WireLinkPool::start_next_pending() {
    Core_Common::expect_main_thread();
    WireContext* context = WireContext::current();
    if (context != nullptr) {
        std::lock_guard<std::mutex> guard(context->m_lock);
        if (context->m_max_connecting != 0 &&
            context->m_counters.num_connecting - context->m_counters.num_connecting_pending >=
                context->m_max_connecting) {
            return false;
        }
    }
    WireLinkLayer* link = nullptr;
    {
        std::lock_guard<std::mutex> guard(m_lock);
        if (context != nullptr) {
            std::lock_guard<std::mutex> context_guard(context->m_lock);
            if (context->m_min_connect_interval != 0 &&
                m_last_start.elapsed_milliseconds() <
                    static_cast<std::int64_t>(context->m_min_connect_interval)) {
                return false;
            }
        }
        if (!m_pending.empty()) {
            link = m_pending.front();
            m_pending.pop_front();
            m_last_start.reset();
        }
    }
    if (link == nullptr) {
        return false;
    }
    link->m_pending = false;
    link->m_connecting = true;
    if (context != nullptr) {
        std::lock_guard<std::mutex> guard(context->m_lock);
        --context->m_counters.num_connecting_pending;
    }
    InterfaceSocketFunc* socket = InterfaceWire::socket_func();
    if (socket == nullptr) {
        // No socket layer to connect through: the connect fails, reported on
        // the main thread like every other outcome.
        link->m_general_token.post([link] {
            link_closed(link, Core_Platform::make_socket_error(
                                  Core_Platform::SOCKET_ERROR_CONNECTION_ABORTED));
        });
        return true;
    }
    {
        // Held so that the connection's first report waits until the link
        // knows its connection.
        std::lock_guard<std::mutex> guard(link->m_lock);
        socket->tcp_connect(link, link->m_connection, link->m_host, link->m_remote_port,
                            link->m_tls);
    }
    return true;
}

void WireLinkPool::cancel_all_pending() {
    Core_Common::expect_main_thread();
    std::deque<WireLinkLayer*> dropped;
    {
        std::lock_guard<std::mutex> guard(m_lock);
        dropped.swap(m_pending);
    }
    for (WireLinkLayer* link : dropped) {
        if (!link->m_pending) {
            Core_Common::fatal_error();
        }
        tell_client_closed(link, boost::system::error_code());
        destroy_link(link);
    }
    if (WireContext* context = WireContext::current()) {
        std::lock_guard<std::mutex> guard(context->m_lock);
        context->m_counters.num_connecting -= static_cast<std::uint32_t>(dropped.size());
        context->m_counters.num_connecting_pending -= static_cast<std::uint32_t>(dropped.size());
    }
}

bool WireLinkPool::remove_pending(WireLinkLayer* link) {
    Core_Common::expect_main_thread();
    std::lock_guard<std::mutex> guard(m_lock);
    for (auto it = m_pending.begin(); it != m_pending.end(); ++it) {
        if (*it == link) {
            m_pending.erase(it);
            return true;
        }
    }
    return false;
}

std::size_t WireLinkPool::pending_count() {
    std::lock_guard<std::mutex> guard(m_lock);
    return m_pending.size();
}

void WireLinkPool::schedule_pump() {
    m_pump_timer.schedule(kPumpIntervalMs, 1, kPumpTimerName, [this] { start_next_pending(); });
}

void WireLinkPool::cancel_pump() { m_pump_timer.cancel(); }

void WireLinkPool::report(std::ostream& out) {
    out << "_____tcp_caller_list (pending, FIFO)" << '\n';
    {
        std::lock_guard<std::mutex> guard(m_lock);
        std::size_t i = 0;
        while (i < m_pending.size()) {
            const std::uint8_t kind = m_pending[i]->m_caller_kind;
            std::size_t run = 0;
            while (i < m_pending.size() && m_pending[i]->m_caller_kind == kind) {
                ++run;
                ++i;
            }
            out << "    " << tcp_caller_name(kind) << " = " << run << '\n';
        }
    }
    std::map<std::uint32_t, std::size_t> connecting;
    std::map<std::uint32_t, std::size_t> connected;
    {
        std::lock_guard<std::mutex> guard(m_active_lock);
        for (const WireLinkLayer* link : m_active) {
            if (link->m_pending) {
                continue;
            }
            (link->m_connecting ? connecting : connected)[link->m_caller_kind] += 1;
        }
    }
    out << "_____tcp_caller_list (connecting)" << '\n';
    for (const auto& [kind, count] : connecting) {
        out << "    " << tcp_caller_name(kind) << " = " << count << '\n';
    }
    out << "_____tcp_caller_list (connected)" << '\n';
    for (const auto& [kind, count] : connected) {
        out << "    " << tcp_caller_name(kind) << " = " << count << '\n';
    }
}

bool connect_link(void* owner, WireLinkLayer*& link, const std::string& host, std::uint16_t port,
                  std::uint8_t kind, bool at_front, bool tls) {
    WireLinkPool* pool = WireLinkPool::current();
    if (pool == nullptr) {
        link = nullptr;
        return false;
    }
    return pool->connect_link(owner, link, host, port, kind, at_front, tls);
}

}  // namespace Core_Wire
