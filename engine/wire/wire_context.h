// Public engine surface: the wire layer's process-wide bookkeeping.
//
// WireContext holds the connection limits (all 0, none, in this engine), the
// link counters, the global byte budgets and the local-address tracker. It is
// created by the wire module's initialize and reached through current().
//
// Counters: num_connecting counts a link from connect_link until it connects
// or closes, num_connecting_pending until it leaves the pending queue,
// num_connected from connected until closed (num_connected_incoming for
// accepted links).
//
// wire_group_t: a group of links sharing a receive and a send budget; a link
// belongs to at most two. The engine creates no group.
//
// Thread rule: every member function may be called from any thread; the
// context lock guards limits and counters and is always taken alone (after
// the pool's lock when both are needed). current() is set and cleared only on
// the main thread by the module.
#pragma once

#include <cstdint>
#include <functional>
#include <mutex>
#include <ostream>
#include <set>
#include <string>

#include "common/record_pool.h"
#include "wire/speed_counter.h"

namespace Core_Wire {

struct wire_counters_t {
    std::uint32_t num_connected = 0;
    std::uint32_t num_connected_incoming = 0;
    std::uint32_t num_connecting = 0;
    std::uint32_t num_connecting_pending = 0;
};

class WireContext {
public:
    static WireContext* current();
    static void create_current();
    static void destroy_current();

    std::mutex m_lock;
    std::uint32_t m_max_connected = 0;
    std::uint32_t m_max_connected_incoming = 0;
    std::function<bool(std::uint32_t remote_address)> m_admission_filter;
    std::uint32_t m_max_connecting = 0;
    std::uint32_t m_min_connect_interval = 0;
    wire_counters_t m_counters;
    byte_budget m_receive_budget;
    byte_budget m_send_budget;

    wire_counters_t counters();

    // The local address of connected links (except 0 and 127.0.0.0/8):
    // remembers the last one and how often it changed.
    void note_local_address(std::uint32_t address);
    std::uint32_t local_address();
    std::uint32_t local_address_changes();

private:
    std::uint32_t m_local_address = 0;
    std::uint32_t m_local_address_changes = 0;
};

struct wire_group_t {
    byte_budget m_receive_budget;
    byte_budget m_send_budget;
};

// The process-wide group registry; created and destroyed by the module.
wire_group_t* create_wire_group();
void destroy_wire_group(wire_group_t* group);
void destroy_all_wire_groups();
Core_Common::record_pool_figures_t wire_group_figures();

// Caller kinds: which kind of caller asked for a link.
enum tcp_caller_enum : std::uint8_t {
    TCP_CALLER_UNDEFINED = 0,
    TCP_CALLER_INCOMING = 1,
    TCP_CALLER_LAST = 32,
};
// The report name of a kind ("tcp_caller_undfined", "tcp_caller_incoming",
// ..., "tcp_caller_error" above 32).
const char* tcp_caller_name(std::uint32_t kind);

}  // namespace Core_Wire
