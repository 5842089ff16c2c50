// Public engine surface: pieces of a long text handed from the thread that
// makes them to the thread that uses them, a few at a time.
//
// For doing two passes over a document of a hundred megabytes at once, on
// two processors (writing a tree's document on one, converting it on the
// other), without the whole document in memory between them: at most
// `depth` pieces wait, so what is touched stays small and in the cache.
//
//   maker thread:                        user thread:
//     for each piece: pipe.put(piece);     std::string piece;
//     pipe.close(true);                    while (pipe.take(piece)) use(piece);
//                                          if (!pipe.made_all()) ... the maker failed
//
// pipe_pieces() below does both sides for a maker that can run on a thread
// of its own; the pipe itself serves makers driven from outside (a parser's
// callbacks).
//
// Thread rule: one thread puts and closes, one other thread takes and
// stops; the pipe outlives both.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

namespace Core_Common {

class piece_pipe_t {
public:
    explicit piece_pipe_t(std::size_t depth = 4) : m_depth(depth == 0 ? 1 : depth) {}

    // Maker: adds a copy of `piece`, waiting while `depth` pieces wait
    // already. Once the user stopped, does nothing and returns false.
    bool put(std::string_view piece);
    // Maker: no more pieces; `made_all` false when the maker failed part-way.
    void close(bool made_all);

    // User: the next piece, swapped into `piece`; false (and `piece` empty)
    // once the maker closed and every piece was taken.
    bool take(std::string& piece);
    // User: no more pieces wanted; the maker's put() returns at once from now.
    void stop();
    // User, after take() returned false: whether the maker made every piece.
    bool made_all() const;

private:
    const std::size_t m_depth;
    mutable std::mutex m_mutex;
    std::condition_variable m_changed;
    std::deque<std::string> m_waiting;
    std::vector<std::string> m_spare;  // taken pieces' buffers, used again
    bool m_closed = false;
    bool m_made_all = true;
    bool m_stopped = false;
};

// A maker of pieces: calls `put` with each piece, in order, and stops early
// when `put` returns false (no more wanted); false when it failed part-way.
using piece_maker_t = std::function<bool(const std::function<bool(std::string_view)>& put)>;

// Runs `make` on a thread of its own and hands each of its pieces, through a
// pipe of `depth`, to `use` on the calling thread, until `use` returns false
// (no more wanted). Without a thread to be had, `make` runs on the calling
// thread and its pieces go to `use` directly. True when every piece went to
// `use` or `use` wanted no more; false when `make` failed first (returned
// false, or threw on its own thread: a lack of memory; on the calling thread
// what it throws goes on).
bool pipe_pieces(const piece_maker_t& make, const std::function<bool(std::string_view)>& use,
                 std::size_t depth = 4);

}  // namespace Core_Common
