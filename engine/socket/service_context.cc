#include "socket/service_context.h"

namespace Core_Socket {

service_context::service_context() : m_keep_alive(m_context.get_executor()) {}

service_context::~service_context() { stop(); }

void service_context::start(int count, const std::string& name) {
    m_context.restart();
    arm_keep_alive();
    for (int i = 0; i < count; ++i) {
        auto thread = std::make_unique<Core_Common::thread_basic>();
        boost::asio::io_context* context = &m_context;
        thread->start_thread([context] { context->run(); }, name,
                             Core_Common::thread_helper::PRIORITY_NORMAL);
        m_threads.push_back(std::move(thread));
    }
}

void service_context::stop() {
    boost::system::error_code ignored;
    m_keep_alive.cancel(ignored);
    // Stopping before waiting bounds the wait: a connection that still has
    // work queued cannot keep the threads (and shutdown) alive.
    m_context.stop();
    for (auto& thread : m_threads) {
        thread->join();
    }
    m_threads.clear();
}

std::size_t service_context::running_threads() const {
    std::size_t running = 0;
    for (const auto& thread : m_threads) {
        running += thread->running() ? 1 : 0;
    }
    return running;
}

void service_context::arm_keep_alive() {
    m_keep_alive.expires_from_now(kKeepAliveMicroseconds);
    m_keep_alive.async_wait([this](const boost::system::error_code& ec) {
        if (!ec) {
            arm_keep_alive();
        }
    });
}

}  // namespace Core_Socket
