#include "native_messages.h"

#include <gtest/gtest.h>

#include <cstring>
#include <random>

namespace Zorvane_Native {
namespace {

std::string header(std::uint32_t length) {
    std::string h(4, '\0');
    std::memcpy(h.data(), &length, 4);
    return h;
}

// Any stream of messages, empty frames and frames over the limit, cut into
// pieces anywhere, reads as the same events as the whole stream at once:
// each message whole, each refused frame one error, nothing lost or merged.
TEST(NativeMessageReader, AnyCuttingGivesTheSameEvents) {
    const unsigned seed = 4242;
    std::mt19937 rng(seed);
    for (int round = 0; round < 40; ++round) {
        SCOPED_TRACE("seed " + std::to_string(seed) + " round " + std::to_string(round));
        std::string stream;
        std::vector<frame_event_t> expected;
        const int frames = 1 + static_cast<int>(rng() % 12);
        for (int f = 0; f < frames; ++f) {
            const unsigned kind = rng() % 10;
            if (kind == 0) {
                stream += header(0);
                expected.push_back({frame_event_t::ERROR, ""});
            } else if (kind == 1 && round % 8 == 0) {
                const std::size_t n = kMaxIncoming + 1 + rng() % 100;
                stream += header(static_cast<std::uint32_t>(n)) + std::string(n, 'x');
                expected.push_back({frame_event_t::ERROR, ""});
            } else {
                const std::size_t n = 1 + rng() % (kind == 2 ? 70000 : 300);
                std::string body(n, '\0');
                for (char& c : body) c = static_cast<char>(rng());
                stream += header(static_cast<std::uint32_t>(n)) + body;
                expected.push_back({frame_event_t::MESSAGE, body});
            }
        }
        native_message_reader reader;
        std::vector<frame_event_t> got;
        for (std::size_t at = 0; at < stream.size();) {
            const std::size_t piece = std::min<std::size_t>(stream.size() - at, 1 + rng() % 9000);
            reader.feed(std::string_view(stream).substr(at, piece), got);
            at += piece;
        }
        EXPECT_FALSE(reader.in_message());
        ASSERT_EQ(got.size(), expected.size());
        for (std::size_t i = 0; i < got.size(); ++i) {
            EXPECT_EQ(got[i].kind, expected[i].kind) << i;
            if (expected[i].kind == frame_event_t::MESSAGE) {
                EXPECT_EQ(got[i].text, expected[i].text);
            }
        }
        // A stream that stops inside a frame says so.
        native_message_reader cut;
        got.clear();
        cut.feed(std::string_view(stream).substr(0, stream.size() - 1), got);
        EXPECT_TRUE(cut.in_message());
    }
}

TEST(NativeMessageReader, DepthSkipsStringsAndStopsEarly) {
    EXPECT_EQ(json_depth(R"({"a": [1, {"b": "[[[[{{{"}]})", 16), 3);
    EXPECT_EQ(json_depth(R"(["\"[[[", "\\", [[]]])", 16), 3);
    EXPECT_EQ(json_depth(std::string(100000, '['), 16), 17);
    EXPECT_EQ(json_depth("12", 16), 0);
    EXPECT_EQ(encode_frame("{}"), header(2) + "{}");
}

}  // namespace
}  // namespace Zorvane_Native
