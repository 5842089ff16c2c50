// Public engine surface: the link pool, which turns a client's request for a
// connection into a link, queues it and starts queued connects.
//
// connect_link creates a link for the session client (table entry 18),
// queues it (at the front when asked) and runs the connect pump once; with
// no limit configured (the engine configures none) every link starts at once.
// The periodic "TCP connect pending" timer (every 200 ms, armed by the wire
// module's start) runs the pump again for links a limit held back.
//
// Thread rule: everything here runs on the main thread (the session client
// and the timer queue run there). The pool's lock guards the pending queue;
// when both are needed it is taken before the context lock.
#pragma once

#include <cstdint>
#include <deque>
#include <list>
#include <mutex>
#include <ostream>
#include <string>

#include "common/timer_handle.h"
#include "common/timestamp_auto.h"

namespace Core_Wire {

class WireLinkLayer;

class WireLinkPool {
public:
    // The period and name of the connect pump's timer.
    static constexpr std::uint32_t kPumpIntervalMs = 200;
    static constexpr const char* kPumpTimerName = "TCP connect pending";

    static WireLinkPool* current();
    static void create_current();
    static void destroy_current();

    WireLinkPool() = default;
    ~WireLinkPool();

    // Creates a pending link owned by `owner` for host:port with caller kind
    // `kind`, stores it in `link` before anything else, queues it and runs
    // the pump once. Returns the pump's result (true: a link was started).
    // With `tls` the connection is opened over TLS.
    bool connect_link(void* owner, WireLinkLayer*& link, const std::string& host,
                      std::uint16_t port, std::uint8_t kind, bool at_front, bool tls = false);
    // Starts the front pending link unless a limit holds it back; true when
    // one was started.
    bool start_next_pending();
    // Drops every pending link, telling its client it closed.
    void cancel_all_pending();
    // Takes `link` out of the pending queue; false when it was not queued.
    bool remove_pending(WireLinkLayer* link);
    std::size_t pending_count();

    // Arms / disarms the connect pump's periodic timer (timer queue needed).
    void schedule_pump();
    void cancel_pump();

    // The three caller-list sections of the wire module's report.
    void report(std::ostream& out);

private:
    std::mutex m_lock;
    Core_Common::timestamp_auto m_last_start;
    Core_Common::TimerHandle m_pump_timer;
    std::deque<WireLinkLayer*> m_pending;
    std::mutex m_active_lock;
    std::list<WireLinkLayer*> m_active;  // used by the report only; never filled here
};

// connect_link on the current pool; false (and `link` empty) without one.
bool connect_link(void* owner, WireLinkLayer*& link, const std::string& host, std::uint16_t port,
                  std::uint8_t kind, bool at_front, bool tls = false);

}  // namespace Core_Wire
