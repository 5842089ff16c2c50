#include "wire/wire_context.h"

#include <memory>

#include "common/shared_record_pool.h"

namespace Core_Wire {
namespace {

std::unique_ptr<WireContext> g_context;

std::mutex g_groups_lock;
std::set<wire_group_t*>& groups() {
    static std::set<wire_group_t*> registry;
    return registry;
}
using group_pool = Core_Common::shared_record_pool<wire_group_t>;

constexpr const char* kCallerNames[] = {
    "tcp_caller_undfined", "tcp_caller_incoming", "tcp_caller_outgoing", "tcp_caller_session",
    "tcp_caller_sync",     "tcp_caller_probe",    "tcp_caller_relay",    "tcp_caller_tracker",
    "tcp_caller_peer",     "tcp_caller_upload",   "tcp_caller_download", "tcp_caller_control",
    "tcp_caller_status",   "tcp_caller_notify",   "tcp_caller_query",    "tcp_caller_stream",
    "tcp_caller_backup",   "tcp_caller_restore",  "tcp_caller_config",   "tcp_caller_report",
    "tcp_caller_health",   "tcp_caller_proxy",    "tcp_caller_tunnel",   "tcp_caller_mirror",
    "tcp_caller_cache",    "tcp_caller_index",    "tcp_caller_search",   "tcp_caller_media",
    "tcp_caller_chat",     "tcp_caller_mail",     "tcp_caller_feed",     "tcp_caller_time",
    "tcp_caller_test",
};
static_assert(sizeof(kCallerNames) / sizeof(kCallerNames[0]) == TCP_CALLER_LAST + 1);

}  // namespace

WireContext* WireContext::current() { return g_context.get(); }

void WireContext::create_current() {
    g_context.reset();
    g_context = std::make_unique<WireContext>();
}

void WireContext::destroy_current() { g_context.reset(); }

wire_counters_t WireContext::counters() {
    std::lock_guard<std::mutex> guard(m_lock);
    return m_counters;
}

void WireContext::note_local_address(std::uint32_t address) {
    // The first byte in memory is the first of the dotted form.
    const auto first =
        static_cast<std::uint8_t>(reinterpret_cast<const unsigned char*>(&address)[0]);
    if (address == 0 || first == 127) {
        return;
    }
    std::lock_guard<std::mutex> guard(m_lock);
    if (address != m_local_address) {
        m_local_address = address;
        ++m_local_address_changes;
    }
}

std::uint32_t WireContext::local_address() {
    std::lock_guard<std::mutex> guard(m_lock);
    return m_local_address;
}

std::uint32_t WireContext::local_address_changes() {
    std::lock_guard<std::mutex> guard(m_lock);
    return m_local_address_changes;
}

wire_group_t* create_wire_group() {
    wire_group_t* group = group_pool::create("wire_group_t");
    std::lock_guard<std::mutex> guard(g_groups_lock);
    groups().insert(group);
    return group;
}

void destroy_wire_group(wire_group_t* group) {
    {
        std::lock_guard<std::mutex> guard(g_groups_lock);
        if (groups().erase(group) == 0) {
            return;
        }
    }
    group_pool::destroy(group);
}

void destroy_all_wire_groups() {
    std::set<wire_group_t*> all;
    {
        std::lock_guard<std::mutex> guard(g_groups_lock);
        all.swap(groups());
    }
    for (wire_group_t* group : all) {
        group_pool::destroy(group);
    }
}

Core_Common::record_pool_figures_t wire_group_figures() { return group_pool::figures(); }

const char* tcp_caller_name(std::uint32_t kind) {
    if (kind > TCP_CALLER_LAST) {
        return "tcp_caller_error";
    }
    return kCallerNames[kind];
}

}  // namespace Core_Wire
