#include "common/crypto.h"

#include <gtest/gtest.h>
#include <openssl/evp.h>

#include <random>
#include <string>
#include <vector>

#include "common/gzip.h"

namespace Core_Common {
namespace {

std::string pattern(std::size_t n, unsigned seed) {
    std::mt19937 rng(seed);
    std::string out(n, '\0');
    for (auto& c : out) c = static_cast<char>(rng());
    return out;
}

// Opens an envelope with OpenSSL directly, following the documented layout,
// and returns the whole deciphered part (header byte and prefix included).
std::string reference_open(const std::string& passphrase, const std::string& envelope) {
    const std::string seed = envelope.substr(envelope.size() - 8);
    unsigned char key[32], d[32], iv[16];
    unsigned int len = 0;
    EVP_Digest(passphrase.data(), passphrase.size(), key, &len, EVP_sha256(), nullptr);
    EVP_Digest(seed.data(), seed.size(), d, &len, EVP_sha256(), nullptr);
    for (int i = 0; i < 16; ++i) iv[i] = d[i] ^ d[i + 16];
    EVP_CIPHER_CTX* ctx = EVP_CIPHER_CTX_new();
    EVP_DecryptInit_ex(ctx, EVP_aes_256_cfb128(), nullptr, key, iv);
    std::string out(envelope.size() - 8, '\0');
    int written = 0;
    EVP_DecryptUpdate(ctx, reinterpret_cast<unsigned char*>(out.data()), &written,
                      reinterpret_cast<const unsigned char*>(envelope.data()),
                      static_cast<int>(out.size()));
    EVP_CIPHER_CTX_free(ctx);
    return out;
}

TEST(Envelope, SizesRoundUpToFifteenPlusEleven) {
    const std::pair<std::size_t, std::size_t> cases[] = {{0, 26},  {1, 26},  {14, 26}, {15, 41},
                                                         {16, 41}, {29, 41}, {30, 56}};
    for (auto [n, expected] : cases) {
        std::string data(n, 'p');
        ASSERT_TRUE(encrypt("pass", data));
        EXPECT_EQ(data.size(), expected) << n;
    }
    for (std::size_t n = 0; n < 100; ++n) {
        std::string data(n, 'p');
        ASSERT_TRUE(encrypt("pass", data));
        const std::size_t L = 15 - n % 15;
        EXPECT_EQ(data.size(), n + L + 11);
        EXPECT_EQ((data.size() - 8) % 15, 3u);
    }
}

TEST(Envelope, LayoutMatchesADirectOpenSslReading) {
    for (std::size_t n : {0u, 1u, 14u, 15u, 100u, 16384u, 20000u}) {
        const std::string plain = pattern(n, static_cast<unsigned>(n));
        std::string sealed = plain;
        ASSERT_TRUE(encrypt("pass\xC3\xA9", sealed));
        const std::string opened = reference_open("pass\xC3\xA9", sealed);
        const std::size_t L = 15 - n % 15;
        EXPECT_EQ(static_cast<unsigned char>(opened[0]) & 0x0F, L) << n;
        EXPECT_EQ(opened.substr(L + 3), plain) << n;
    }
}

TEST(Envelope, RoundTripAcrossPieceBoundaries) {
    for (std::size_t n : {1u, 14u, 15u, 16u, 16365u, 16366u, 16367u, 16383u, 16384u, 16385u, 32768u,
                          (1u << 20) + 7}) {
        const std::string plain = pattern(n, 11);
        std::string s = plain;
        ASSERT_TRUE(encrypt("secret", s));
        ASSERT_TRUE(decrypt("secret", s)) << n;
        EXPECT_EQ(s, plain) << n;

        std::vector<std::uint8_t> v(plain.begin(), plain.end());
        ASSERT_TRUE(encrypt("secret", v));
        ASSERT_TRUE(decrypt("secret", v)) << n;
        EXPECT_EQ(std::string(v.begin(), v.end()), plain) << n;
    }
}

TEST(Envelope, EmptyInputCannotBeOpenedBack) {
    std::string data;
    ASSERT_TRUE(encrypt("k", data));
    ASSERT_EQ(data.size(), 26u);
    EXPECT_FALSE(decrypt("k", data));
    // Deciphered but not stripped: the header byte announces 15 + 3 bytes.
    ASSERT_EQ(data.size(), 18u);
    EXPECT_EQ(static_cast<unsigned char>(data[0]) & 0x0F, 15);
}

TEST(Envelope, TwoEncryptionsDiffer) {
    std::string a = "same", b = "same";
    ASSERT_TRUE(encrypt("k", a));
    ASSERT_TRUE(encrypt("k", b));
    EXPECT_NE(a, b);
    EXPECT_NE(a.substr(a.size() - 8), b.substr(b.size() - 8));
}

TEST(Envelope, ShortDataIsRefusedUnchanged) {
    for (std::size_t n : {0u, 1u, 25u}) {
        const std::string original = pattern(n, 3);
        std::string data = original;
        EXPECT_FALSE(decrypt("k", data));
        EXPECT_EQ(data, original);
        std::vector<std::uint8_t> v(original.begin(), original.end());
        EXPECT_FALSE(decrypt("k", v));
        EXPECT_EQ(v.size(), n);
    }
}

TEST(Envelope, WrongPassphraseIsCaughtByTheGzipCheck) {
    int opened_with_garbage = 0;
    for (unsigned i = 0; i < 64; ++i) {
        std::string data = pattern(200 + i, i);
        ASSERT_TRUE(gzip_compress(data));
        ASSERT_TRUE(encrypt("right", data));
        if (decrypt("wrong", data)) {
            ++opened_with_garbage;
            EXPECT_FALSE(gzip_decompress(data)) << i;
        }
    }
    // Most garbled header bytes still announce a prefix that fits.
    EXPECT_GT(opened_with_garbage, 0);
}

TEST(Sha1, EmptyInputIsAllZero) {
    EXPECT_EQ(sha1("", 0).to_hex(), std::string(40, '0'));
    EXPECT_TRUE(sha1(nullptr, 0).is_zero());
}

TEST(Sha1, KnownDigests) {
    EXPECT_EQ(sha1("abc", 3).to_hex(), "a9993e364706816aba3e25717850c26c9cd0d89d");
    const std::u16string password = u"password";
    EXPECT_EQ(sha1(password.data(), password.size() * 2).to_hex(),  // UTF-16LE bytes
              "e8f97fba9104d1ea5047948e6dfb67facd9f5b73");
    const std::u16string accented = u"Zorvane\u00e9";
    EXPECT_EQ(sha1(accented.data(), accented.size() * 2).to_hex(),
              "0b9f53c7375934fddb293447df3b5fe049e1aeb7");
}

TEST(RandomBytes, FillsWithFreshBytes) {
    std::string a(64, '\0'), b(64, '\0');
    random_bytes(a.data(), a.size());
    random_bytes(b.data(), b.size());
    EXPECT_NE(a, std::string(64, '\0'));
    EXPECT_NE(a, b);
    random_bytes(nullptr, 0);
}

}  // namespace
}  // namespace Core_Common
