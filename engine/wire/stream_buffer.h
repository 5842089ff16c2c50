// Internal to the wire layer: a link's byte buffer (one for receiving, one
// for sending).
//
// Bytes are appended at the back and consumed from the front. While a
// reader holds a view of the main bytes (between view and consume), appends
// go to a side vector, so the main bytes are never moved under the reader;
// the next view moves them over. Consuming only moves a start offset (a
// message of a hundred megabytes taken in pieces is not moved once per
// piece); the bytes before it are dropped when the rest is small or gone,
// and a large buffer that empties gives its memory back. Every change of
// capacity or size is added to the wire layer's global buffer statistics of
// the buffer's direction.
//
// Thread rule: every operation takes the buffer's lock, so one thread may
// append while another views and consumes. One reader at a time.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <vector>

namespace Core_Wire {

// Live totals over all links' buffers, in bytes.
struct wire_buffer_stats_t {
    std::atomic<std::int64_t> send_capacity{0};
    std::atomic<std::int64_t> send_used{0};
    std::atomic<std::int64_t> recv_capacity{0};
    std::atomic<std::int64_t> recv_used{0};
};
wire_buffer_stats_t& wire_buffer_stats();

class stream_buffer {
public:
    enum direction_enum { SEND, RECEIVE };

    struct view_t {
        const char* data = nullptr;  // null when empty
        std::size_t size = 0;
        std::size_t new_bytes = 0;  // bytes not offered by an earlier view
    };

    explicit stream_buffer(direction_enum direction);
    // Takes the buffer's figures back out of the statistics.
    ~stream_buffer();
    stream_buffer(const stream_buffer&) = delete;
    stream_buffer& operator=(const stream_buffer&) = delete;

    void append(const char* data, std::size_t n);
    // The reader needs `n` unconsumed bytes before it can take anything: the
    // main bytes get room for them at once, not by repeated growing. Taken
    // into account at the next append or view (never under a view); 0 drops
    // the hint.
    void expect(std::size_t n);
    // Starts reading: the main bytes stay in place until consume.
    view_t view();
    // Ends reading and removes n bytes from the front. More than the main
    // bytes hold is a fatal error.
    void consume(std::size_t n);
    // Bytes held (main and side).
    std::size_t size() const;
    // The reader's last hint (0: none).
    std::size_t expected() const;

private:
    void report();  // lock held
    // Makes room in main for `more` bytes at its end (lock held, no view).
    void make_room(std::size_t more);

    mutable std::mutex m_lock;
    std::vector<char> m_main;
    std::size_t m_head = 0;  // main bytes before it are consumed
    std::vector<char> m_side;
    bool m_reading = false;
    std::size_t m_seen = 0;  // unconsumed main bytes offered by an earlier view
    std::size_t m_expected = 0;
    const direction_enum m_direction;
    std::int64_t m_reported_capacity = 0;
    std::int64_t m_reported_size = 0;
};

}  // namespace Core_Wire
