#include "common/fingerprint.h"

#include <cryptopp/aes.h>
#include <cryptopp/gcm.h>
#include <gtest/gtest.h>

#include <random>
#include <string>

namespace Core_Common {
namespace {

// Another library's AES-GCM tag of `bytes` as additional data alone, under
// the same key and the all-zero nonce.
fingerprint_t::value_t other_library(const fingerprint_t::key_t& key, const std::string& bytes) {
    CryptoPP::GCM<CryptoPP::AES>::Encryption gcm;
    const CryptoPP::byte nonce[12] = {};
    gcm.SetKeyWithIV(key.data(), key.size(), nonce, sizeof nonce);
    gcm.Update(reinterpret_cast<const CryptoPP::byte*>(bytes.data()), bytes.size());
    fingerprint_t::value_t tag{};
    gcm.TruncatedFinal(tag.data(), tag.size());
    return tag;
}

// The fingerprint is one function of the key and the bytes: however the
// bytes are cut into pieces, and for each string after others through the
// same object, it is what an independent implementation gives; and a
// flipped bit, a trailing zero byte or another key changes it.
TEST(Fingerprint, IsTheKeyedHashOfTheBytesHoweverCut) {
    std::mt19937 rng(7);
    const fingerprint_t::key_t key = fingerprint_t::random_key();
    fingerprint_t reused(key);
    for (const std::size_t size : {0u, 1u, 15u, 16u, 17u, 255u, 4096u, 100003u}) {
        std::string bytes(size, '\0');
        for (char& c : bytes) c = static_cast<char>(rng());
        const fingerprint_t::value_t expected = other_library(key, bytes);
        EXPECT_EQ(fingerprint_t::of(key, bytes.data(), bytes.size()), expected) << size;
        for (std::size_t at = 0; at < bytes.size();) {
            const std::size_t n = std::min<std::size_t>(bytes.size() - at, rng() % 40);
            reused.add(bytes.data() + at, n);
            at += n;
        }
        EXPECT_EQ(reused.finish(), expected) << size << " in pieces";

        EXPECT_NE(fingerprint_t::of(key, (bytes + '\0').data(), size + 1), expected) << size;
        EXPECT_NE(fingerprint_t::of(fingerprint_t::random_key(), bytes.data(), size), expected);
        if (size != 0) {
            std::string flipped = bytes;
            flipped[rng() % size] ^= static_cast<char>(1 << (rng() % 8));
            EXPECT_NE(fingerprint_t::of(key, flipped.data(), size), expected) << size;
        }
    }
    EXPECT_EQ(&fingerprint_t::process_key(), &fingerprint_t::process_key());
    EXPECT_NE(fingerprint_t::process_key(), fingerprint_t::key_t{});
}

}  // namespace
}  // namespace Core_Common
