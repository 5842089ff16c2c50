// Public engine surface: the wire layer's link.
//
// A link (WireLinkLayer) is one TCP connection seen from above: a receive
// buffer, a send buffer, byte accounting and a binding to one protocol client
// (by index in InterfaceWire's table) and one owner object of that client.
// It does not frame messages: it offers the whole unconsumed receive buffer
// to the client, which says how much it consumed (wire/wire_callback.h), and
// hands the bytes the client writes to the socket layer as it asks for them.
//
// Every socket event is handed to the message queue and handled on the main
// thread (direct handling on the socket thread is the disabled
// wire_direct_dispatch mode), so protocol clients run single-threaded.
//
// Lifecycle: pending (queued by WireLinkPool) -> connecting -> connected ->
// closing -> closed down (the client's on_closed, then the link is
// destroyed). on_closed is delivered at most once; after it the owner must
// not use its link pointer again.
//
// Failure: an owner that does not match the link's owner makes link_send,
// link_release and link_remote_endpoint throw a bool (the link's closing
// flag). Broken invariants (a connection reporting for a link it does not
// belong to, a client consuming more than offered, a connected event for a
// pending link) raise fatal_error().
//
// Thread rule: the client-facing functions run on the main thread. The
// socket-event functions run on socket threads; they only touch the buffers
// (each with its own lock) and the fields guarded by the link's lock, and
// post the rest. A link's lock is never held while a client is called.
#pragma once

#include <boost/system/error_code.hpp>
#include <cstdint>
#include <mutex>
#include <string>

#include "common/message_token.h"
#include "common/record_pool.h"
#include "wire/speed_counter.h"
#include "wire/stream_buffer.h"

namespace Core_Wire {

struct wire_group_t;

class WireLinkLayer {
public:
    // The receive buffer above which reading stops (10 MiB), unless the
    // client said it needs more for the message it reads (link_expect).
    static constexpr std::size_t kReceiveBufferLimit = 0xA00000;

    WireLinkLayer();
    ~WireLinkLayer();
    WireLinkLayer(const WireLinkLayer&) = delete;
    WireLinkLayer& operator=(const WireLinkLayer&) = delete;

    // Guards m_connection, the addresses and the group pointers.
    std::mutex m_lock;
    // Carries link_connected, link_closed and send_drained.
    Core_Common::MessageToken m_general_token;
    // Carries process_received; at most one queued at a time.
    Core_Common::MessageToken m_receive_token;
    // Carries resume_send; at most one queued at a time.
    Core_Common::MessageToken m_send_token;
    std::uint8_t m_client_index = 0;
    void* m_owner = nullptr;
    void* m_connection = nullptr;
    bool m_closing = false;
    bool m_close_after_flush = false;
    stream_buffer m_receive_buffer{stream_buffer::RECEIVE};
    stream_buffer m_send_buffer{stream_buffer::SEND};
    byte_budget m_receive_budget;
    byte_budget m_send_budget;
    wire_group_t* m_groups[2] = {nullptr, nullptr};
    std::string m_host;
    bool m_tls = false;  // the connection is opened over TLS
    std::uint32_t m_remote_address = 0;
    std::uint16_t m_remote_port = 0;
    std::uint32_t m_local_address = 0;
    std::uint16_t m_local_port = 0;
    std::uint8_t m_caller_kind = 0;
    bool m_incoming = false;
    bool m_connecting = false;
    bool m_pending = false;
};

// Client-facing operations (main thread).

// Appends `size` bytes for sending and lets the socket layer know. Size 0
// does nothing.
void link_send(WireLinkLayer* link, void* owner, const void* data, std::size_t size);
// The owner gives the link up: the link closes abortively and the owner's
// pointer is emptied. A pending link is destroyed at once; a connecting or
// connected one when the socket layer reports the close. No on_closed
// reaches the (former) owner.
void link_release(void* owner, WireLinkLayer*& link);
// The client needs `bytes` unconsumed bytes in the receive buffer before it
// can take the message it reads: reading goes on until they are there even
// above kReceiveBufferLimit (the client bounds `bytes` by what its protocol
// allows), and the buffer makes room for them at once. Reading still stops
// above the larger of the two while the client does not consume. 0 drops
// the hint.
void link_expect(WireLinkLayer* link, void* owner, std::size_t bytes);
// The remote address (network order) and port of the link.
void link_remote_endpoint(WireLinkLayer* link, void* owner, std::uint32_t& address,
                          std::uint16_t& port);

// Links of the process: creation, destruction and figures (for the report).
WireLinkLayer* create_link();
void destroy_link(WireLinkLayer* link);
std::size_t live_link_count();
Core_Common::record_pool_figures_t link_figures();
// Tells the client of every live link that it closed (operation aborted)
// and destroys it. For the module's teardown, when no socket thread runs.
void destroy_all_links();

// Closes the link's connection (gracefully or abortively), after taking it
// out of its groups. Main thread.
void close_link(WireLinkLayer* link, bool graceful);
// Runs the client's side of a close: out of the groups, then on_closed.
void tell_client_closed(WireLinkLayer* link, const boost::system::error_code& ec);
// Hands link_closed's work to the main thread (used for a released pending
// link, which is closed at once).
void link_closed(WireLinkLayer* link, const boost::system::error_code& ec);

// Socket events (socket threads); `conn` is the reporting connection.
void on_link_tcp_closed(void* conn, void*& link, const boost::system::error_code& ec);
void on_link_tcp_connected(void* conn, void* link, std::uint32_t local_address,
                           std::uint16_t local_port, std::uint32_t remote_address,
                           std::uint16_t remote_port);
void get_link_recv_allowance(void* conn, void* link, std::uint32_t& allowance);
void on_link_tcp_received(void* conn, void* link, const char* data, std::size_t size);
void get_link_send_allowance(void* conn, void* link, std::uint32_t& allowance);
void get_link_send_data(void* conn, void* link, const char*& data, std::uint32_t& size);
void on_link_send_data_taken(void* conn, void* link, std::uint32_t count);

}  // namespace Core_Wire
