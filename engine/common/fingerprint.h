// Public engine surface: a keyed 128-bit fingerprint of a byte string, taken
// a piece at a time.
//
// For telling whether a large text is the one seen before without keeping
// it, about five times as fast as a SHA-256 digest (8 GB/s here against
// 1.8): the fingerprint is a universal hash (GHASH, the hash of AES-GCM) of
// the bytes and their length under a secret key. For two different strings
// of at most n bytes, the chance that their fingerprints under a random key
// agree is below n / 2^128, whoever chose the strings, as long as the key
// stays secret. Unlike a digest it is no proof once the key is known:
// whoever holds the key can make strings that agree. So a key is made by
// random_key() and kept in this process, or in a private file beside what
// it fingerprints.
//
//   fingerprint_t f(key);
//   f.add(piece) for each piece;
//   const fingerprint_t::value_t v = f.finish();   // of the pieces joined
//
// Thread rule: one object is used by one thread at a time; process_key()
// may be called from any thread.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string_view>

namespace Core_Common {

class fingerprint_t {
public:
    using key_t = std::array<std::uint8_t, 16>;
    using value_t = std::array<std::uint8_t, 16>;

    // Throws std::runtime_error if the cryptographic library fails (it
    // cannot allocate its state).
    explicit fingerprint_t(const key_t& key);
    ~fingerprint_t();
    fingerprint_t(const fingerprint_t&) = delete;
    fingerprint_t& operator=(const fingerprint_t&) = delete;

    void add(const void* data, std::size_t length);
    void add(std::string_view bytes) { add(bytes.data(), bytes.size()); }
    // The fingerprint of everything added; the object then starts afresh
    // with the same key.
    value_t finish();

    // The fingerprint of `length` bytes at once.
    static value_t of(const key_t& key, const void* data, std::size_t length);

    // A key from the system's random source. Throws std::runtime_error when
    // the source fails.
    static key_t random_key();
    // One random key for the life of the process, made at the first call.
    static const key_t& process_key();

private:
    struct state_t;
    std::unique_ptr<state_t> m_state;
};

}  // namespace Core_Common
