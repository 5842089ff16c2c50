#include "common/piece_pipe.h"

#include <gtest/gtest.h>

#include <new>
#include <random>
#include <string>

namespace Core_Common {
namespace {

// Everything made comes out in order and whole, however the pieces are cut
// and whatever the depth; a maker that fails part-way is told apart from one
// that finished; a user that wants no more never leaves the maker waiting.
TEST(PiecePipe, HandsOverEveryPieceInOrderAndEndsCleanly) {
    std::mt19937 rng(3);
    std::string text(300000, '\0');
    for (char& c : text) c = static_cast<char>('a' + rng() % 26);
    for (const std::size_t depth : {1u, 2u, 4u}) {
        for (const bool fails : {false, true}) {
            // A maker that fails throws after its last piece.
            const piece_maker_t make = [&](const auto& put) {
                std::mt19937 cuts(depth);
                for (std::size_t at = 0; at < text.size();) {
                    const std::size_t n = std::min<std::size_t>(text.size() - at, cuts() % 5000);
                    EXPECT_TRUE(put(std::string_view(text).substr(at, n)));
                    at += n;
                }
                if (fails) throw std::bad_alloc();
                return true;
            };
            std::string got;
            const bool made = pipe_pieces(
                make,
                [&](std::string_view piece) {
                    got += piece;
                    return true;
                },
                depth);
            EXPECT_EQ(got, text) << depth;
            EXPECT_EQ(made, !fails) << depth;
        }

        std::size_t refused = 0;
        std::string got;
        const bool made = pipe_pieces(
            [&](const auto& put) {
                for (int i = 0; i < 1000; ++i) refused += put("piece") ? 0 : 1;
                return false;  // a failure after the user stopped does not count
            },
            [&](std::string_view piece) {
                got = piece;
                return false;
            },
            depth);
        EXPECT_TRUE(made);
        EXPECT_EQ(got, "piece");
        EXPECT_GT(refused, 0u) << "the maker went on waiting for a user that stopped";
    }
}

}  // namespace
}  // namespace Core_Common
