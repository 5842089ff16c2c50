#include "log_text.h"

#include <gtest/gtest.h>

#include <random>

namespace Core_Server {
namespace {

// True when `text` holds a control character, as a byte or as UTF-8 (C1),
// or a character that reorders text on screen.
bool holds_anything_a_terminal_acts_on(const std::string& text) {
    for (std::size_t i = 0; i < text.size(); ++i) {
        const auto c = static_cast<unsigned char>(text[i]);
        if (c < 0x20 || c == 0x7f) return true;
        if (c == 0xC2 && i + 1 < text.size() && static_cast<unsigned char>(text[i + 1]) < 0xA0)
            return true;
        if (c == 0xE2 && i + 2 < text.size() && static_cast<unsigned char>(text[i + 1]) == 0x80 &&
            (static_cast<unsigned char>(text[i + 2]) == 0x8E ||
             static_cast<unsigned char>(text[i + 2]) == 0x8F ||
             (static_cast<unsigned char>(text[i + 2]) >= 0xAA &&
              static_cast<unsigned char>(text[i + 2]) <= 0xAE)))
            return true;
    }
    return false;
}

TEST(LogSafe, EscapesWhatATerminalActsOnAndBoundsTheLength) {
    EXPECT_EQ(log_safe("bob", 64), "bob");
    EXPECT_EQ(log_safe("caf\xC3\xA9", 64), "caf\xC3\xA9");
    EXPECT_EQ(log_safe("a\"b\\c", 64), "a\\\"b\\\\c");
    EXPECT_EQ(log_safe("a\"b", 64, false), "a\"b");
    EXPECT_EQ(log_safe("x\n2026-01-01 forged line", 64), "x\\x0a2026-01-01 forged line");
    EXPECT_EQ(log_safe("\x1b[2J\xC2\x9b"
                       "31m",
                       64),
              "\\x1b[2J\\x9b31m");
    EXPECT_EQ(log_safe("\xE2\x80\xAEtxt.exe", 64), "\\u{202e}txt.exe");
    EXPECT_EQ(log_safe("\xff\xC3", 64), "\\xff\\xc3");
    // Cut at a character boundary, the whole length said.
    EXPECT_EQ(log_safe(std::string(10, 'a') + "\xC3\xA9", 11), "aaaaaaaaaa...(12 bytes)");
    EXPECT_EQ(log_safe(std::string(16 << 20, 'n'), 256).size(), 256 + 19u);

    const unsigned seed = 20261209;
    std::mt19937 random(seed);
    for (int round = 0; round < 2000; ++round) {
        std::string text(random() % 200, '\0');
        for (char& c : text) c = static_cast<char>(random() % 4 ? random() % 256 : random() % 32);
        const std::size_t max = random() % 150;
        const std::string safe = log_safe(text, max);
        ASSERT_FALSE(holds_anything_a_terminal_acts_on(safe))
            << "seed " << seed << " round " << round;
        ASSERT_LE(safe.size(), 4 * max + 24) << "seed " << seed << " round " << round;
    }
}

}  // namespace
}  // namespace Core_Server
