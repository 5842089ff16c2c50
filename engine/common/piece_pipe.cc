#include "common/piece_pipe.h"

namespace Core_Common {

bool piece_pipe_t::put(std::string_view piece) {
    std::unique_lock<std::mutex> lock(m_mutex);
    m_changed.wait(lock, [this] { return m_stopped || m_waiting.size() < m_depth; });
    if (m_stopped) return false;
    std::string buffer;
    if (!m_spare.empty()) {
        buffer = std::move(m_spare.back());
        m_spare.pop_back();
    }
    buffer.assign(piece);
    m_waiting.push_back(std::move(buffer));
    m_changed.notify_all();
    return true;
}

void piece_pipe_t::close(bool made_all) {
    const std::lock_guard<std::mutex> lock(m_mutex);
    m_closed = true;
    m_made_all = made_all;
    m_changed.notify_all();
}

bool piece_pipe_t::take(std::string& piece) {
    std::unique_lock<std::mutex> lock(m_mutex);
    // The buffer handed out last comes back for the maker's next piece.
    if (piece.capacity() != 0 && m_spare.size() < m_depth) {
        piece.clear();
        m_spare.push_back(std::move(piece));
    }
    piece = std::string();
    m_changed.wait(lock, [this] { return m_closed || !m_waiting.empty(); });
    if (m_waiting.empty()) return false;
    piece = std::move(m_waiting.front());
    m_waiting.pop_front();
    m_changed.notify_all();
    return true;
}

void piece_pipe_t::stop() {
    const std::lock_guard<std::mutex> lock(m_mutex);
    m_stopped = true;
    m_waiting.clear();
    m_changed.notify_all();
}

bool piece_pipe_t::made_all() const {
    const std::lock_guard<std::mutex> lock(m_mutex);
    return m_made_all;
}

std::thread start_maker(piece_pipe_t& pipe, piece_maker_t make) {
    return std::thread([&pipe, make = std::move(make)] {
        bool made = false;
        try {
            made = make([&pipe](std::string_view piece) { return pipe.put(piece); });
        } catch (...) {
            made = false;
        }
        pipe.close(made);
    });
}

}  // namespace Core_Common
