// Internal to the socket layer: an I/O context with its keep-alive timer and
// the service threads that run it.
//
// The keep-alive timer expires every 48 hours and re-arms itself, so the
// threads keep running while the context has no other work; cancelling it
// (or any other error) ends the cycle. The threads wait in the context's
// event loop and use no processor time while nothing happens.
//
// Thread rule: start, stop and the destructor are for the owning module's
// thread (the main thread); context() may be used from any thread.
#pragma once

#include <boost/asio/io_context.hpp>
#include <memory>
#include <string>
#include <vector>

#include "common/thread_basic.h"
#include "socket/time_traits.h"

namespace Core_Socket {

class service_context {
public:
    // The keep-alive period, in microseconds (48 hours).
    static constexpr std::int64_t kKeepAliveMicroseconds = 172800000000LL;

    service_context();
    // Stops the context and joins its threads (see stop).
    ~service_context();
    service_context(const service_context&) = delete;
    service_context& operator=(const service_context&) = delete;

    // Lets the context run again, arms the keep-alive timer and starts
    // `count` threads named `name` at normal priority, each running the
    // context until it is stopped. An exception out of the context's run is
    // a crash of that thread (common/thread_basic.h).
    void start(int count, const std::string& name);

    // Cancels the keep-alive timer, stops the context and waits for every
    // thread to end. Handlers not yet run stay queued and are destroyed with
    // the context unless it runs again. Safe to call when nothing runs.
    void stop();

    // Threads started and not yet joined.
    std::size_t thread_count() const { return m_threads.size(); }
    // Threads whose run of the context has not returned.
    std::size_t running_threads() const;

    boost::asio::io_context& context() { return m_context; }

private:
    void arm_keep_alive();

    boost::asio::io_context m_context;
    socket_timer m_keep_alive;
    std::vector<std::unique_ptr<Core_Common::thread_basic>> m_threads;
};

}  // namespace Core_Socket
