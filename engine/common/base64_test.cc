#include "common/base64.h"

#include <cryptopp/base64.h>
#include <cryptopp/filters.h>
#include <gtest/gtest.h>

#include <random>
#include <string>

namespace Core_Common {
namespace {

TEST(Base64, StandardVectors) {
    EXPECT_EQ(base64_encode(""), "");
    EXPECT_EQ(base64_encode("f"), "Zg==");
    EXPECT_EQ(base64_encode("fo"), "Zm8=");
    EXPECT_EQ(base64_encode("foo"), "Zm9v");
    EXPECT_EQ(base64_encode("foobar"), "Zm9vYmFy");
    EXPECT_EQ(base64_encode(std::string("\xFB\xFF\xBF", 3)), "+/+/");
    EXPECT_EQ(base64_decode("Zm9vYmFy"), "foobar");
    EXPECT_EQ(base64_decode("Zg=="), "f");
    EXPECT_EQ(base64_decode(""), "");
}

TEST(Base64, HundredBytesMakeOneLineOf136) {
    std::mt19937 rng(100);
    std::string bytes(100, '\0');
    for (auto& c : bytes) c = static_cast<char>(rng());
    const std::string text = base64_encode(bytes.data(), bytes.size());
    EXPECT_EQ(text.size(), 136u);
    EXPECT_EQ(text.find('\n'), std::string::npos);
    EXPECT_EQ(text.substr(134), "==");

    std::string broken;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (i % 50 == 0) broken += "\r\n";
        if (i % 7 == 0) broken += ' ';
        broken += text[i];
    }
    EXPECT_EQ(base64_decode(broken.data(), broken.size()), bytes);
}

TEST(Base64, CharactersOutsideTheAlphabetAreSkipped) {
    EXPECT_EQ(base64_decode("Zm=9v*Ym\tFy!"), "foobar");
    EXPECT_EQ(base64_decode("QQ=="), "A");
    EXPECT_EQ(base64_decode("qQ=="), "\xA9");
    EXPECT_NE(base64_decode("zm9vymfy"), "foobar");  // the alphabet is case-sensitive
    EXPECT_EQ(base64_decode("!!!"), "");
}

TEST(Base64, LargeRoundTrip) {
    std::mt19937 rng(7);
    std::string bytes(1 << 20, '\0');
    for (auto& c : bytes) c = static_cast<char>(rng());
    const std::string text = base64_encode(bytes);
    EXPECT_EQ(text.size(), (bytes.size() + 2) / 3 * 4);
    EXPECT_EQ(base64_decode(text), bytes);
}

// The library coder that defined the rules first stays the reference.
std::string library_encode(const std::string& bytes) {
    std::string out;
    CryptoPP::StringSource source(
        reinterpret_cast<const CryptoPP::byte*>(bytes.data()), bytes.size(), true,
        new CryptoPP::Base64Encoder(new CryptoPP::StringSink(out), false));
    return out;
}

std::string library_decode(const std::string& text) {
    std::string out;
    CryptoPP::StringSource source(reinterpret_cast<const CryptoPP::byte*>(text.data()), text.size(),
                                  true, new CryptoPP::Base64Decoder(new CryptoPP::StringSink(out)));
    return out;
}

TEST(Base64, AgreesWithTheLibraryCoder) {
    std::mt19937_64 rng(64);
    const char extra[] = "=\r\n \t*-_.!\x80\xff";
    for (int round = 0; round < 5000; ++round) {
        std::string bytes(rng() % 40, '\0');
        for (auto& c : bytes) c = static_cast<char>(rng());
        const std::string text = base64_encode(bytes);
        ASSERT_EQ(text, library_encode(bytes));
        ASSERT_EQ(base64_decode(text), bytes);
        // Any text at all, alphabet and other bytes mixed, cut anywhere.
        std::string noisy = text;
        for (std::size_t k = rng() % 6; k > 0; --k) {
            const std::size_t at = noisy.empty() ? 0 : rng() % noisy.size();
            noisy.insert(at, 1, extra[rng() % (sizeof extra - 1)]);
        }
        if (!noisy.empty() && rng() % 2) noisy.resize(rng() % noisy.size());
        ASSERT_EQ(base64_decode(noisy), library_decode(noisy)) << noisy;
    }
}

}  // namespace
}  // namespace Core_Common

namespace Core_Common {
namespace {

// In pieces cut anywhere, both directions give exactly the whole forms:
// random bytes, and random text with skipped characters and stray fill.
TEST(Base64, InPiecesAsWhole) {
    const unsigned seed = 20260612;
    std::mt19937 rng(seed);
    for (int round = 0; round < 300; ++round) {
        std::string bytes(rng() % 3000, '\0');
        for (char& c : bytes) c = static_cast<char>(rng());
        std::string text = base64_encode(bytes);
        for (int damage = static_cast<int>(rng() % 4); damage > 0 && !text.empty(); --damage) {
            text.insert(rng() % text.size(), 1, " =\n*"[rng() % 4]);
        }
        auto cut = [&](const std::string& whole, auto&& convert) {
            std::size_t at = 0;
            while (at < whole.size()) {
                const std::size_t n = std::min<std::size_t>(whole.size() - at, rng() % 9);
                convert(std::string_view(whole).substr(at, n));
                at += n;
            }
        };
        base64_encoder_t encoder;
        std::string encoded;
        cut(bytes, [&](std::string_view piece) { encoder.add(piece, encoded); });
        encoder.finish(encoded);
        ASSERT_EQ(encoded, base64_encode(bytes)) << "seed " << seed << " round " << round;
        base64_decoder_t decoder;
        std::string decoded;
        cut(text, [&](std::string_view piece) { decoder.add(piece, decoded); });
        decoder.finish(decoded);
        ASSERT_EQ(decoded, base64_decode(text)) << "seed " << seed << " round " << round;
        // What was inserted is no alphabet character: the bytes come back.
        ASSERT_EQ(decoded, bytes) << "seed " << seed << " round " << round;
    }
}

}  // namespace
}  // namespace Core_Common
