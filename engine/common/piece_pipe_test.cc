#include "common/piece_pipe.h"

#include <gtest/gtest.h>

#include <new>
#include <random>
#include <string>
#include <thread>

namespace Core_Common {
namespace {

// Everything put comes out in order and whole, however the pieces are cut
// and whatever the depth; a user that stops early never leaves the maker
// waiting; a maker that fails part-way is told apart from one that ended.
TEST(PiecePipe, HandsOverEveryPieceInOrderAndEndsCleanly) {
    std::mt19937 rng(3);
    std::string text(300000, '\0');
    for (char& c : text) c = static_cast<char>('a' + rng() % 26);
    for (const std::size_t depth : {1u, 2u, 4u}) {
        for (const bool fails : {false, true}) {
            piece_pipe_t pipe(depth);
            // A maker that fails throws after its last piece.
            std::thread maker = start_maker(pipe, [&](const auto& put) {
                std::mt19937 cuts(depth);
                for (std::size_t at = 0; at < text.size();) {
                    const std::size_t n = std::min<std::size_t>(text.size() - at, cuts() % 5000);
                    EXPECT_TRUE(put(std::string_view(text).substr(at, n)));
                    at += n;
                }
                if (fails) throw std::bad_alloc();
                return true;
            });
            std::string got, piece;
            while (pipe.take(piece)) got += piece;
            maker.join();
            EXPECT_EQ(got, text) << depth;
            EXPECT_EQ(pipe.made_all(), !fails) << depth;
        }

        piece_pipe_t stopped(depth);
        std::size_t refused = 0;
        std::thread maker([&] {
            for (int i = 0; i < 1000; ++i) refused += stopped.put("piece") ? 0 : 1;
            stopped.close(true);
        });
        std::string piece;
        ASSERT_TRUE(stopped.take(piece));
        EXPECT_EQ(piece, "piece");
        stopped.stop();
        maker.join();
        EXPECT_GT(refused, 0u) << "the maker went on waiting for a user that stopped";
    }
}

}  // namespace
}  // namespace Core_Common
