#include "common/piece_pipe.h"

#include <system_error>
#include <thread>

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

bool pipe_pieces(const piece_maker_t& make, const std::function<bool(std::string_view)>& use,
                 std::size_t depth) {
    piece_pipe_t pipe(depth);
    std::thread maker;
    try {
        maker = std::thread([&pipe, &make] {
            bool made = false;
            try {
                made = make([&pipe](std::string_view piece) { return pipe.put(piece); });
            } catch (...) {
                made = false;
            }
            pipe.close(made);
        });
    } catch (const std::system_error&) {
        bool wanted = true;
        const bool made =
            make([&](std::string_view piece) { return wanted && (wanted = use(piece)); });
        return made || !wanted;
    }
    bool wanted = true;
    std::string piece;
    while (pipe.take(piece)) {
        if (!use(piece)) {
            wanted = false;
            pipe.stop();
            break;
        }
    }
    maker.join();
    return !wanted || pipe.made_all();
}

}  // namespace Core_Common
