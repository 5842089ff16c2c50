// Public engine surface: the cipher envelope, digests and random bytes.
//
// The envelope protects the local data files and the sync message bodies.
// encrypt() turns n plain bytes into n + L + 11 bytes (L = 15 - n mod 15,
// from 1 to 15; at least 26 bytes in all):
//   AES-256-CFB (128-bit feedback) over [header byte | L + 2 random bytes |
//   the n plain bytes], followed by the 8-byte IV seed in clear.
// The header byte holds L in its low four bits and random bits above. The key
// is SHA-256 of the passphrase's bytes; the IV is the XOR of the two halves
// of SHA-256 of the seed. So the length reveals n only to within 15 bytes,
// and two encryptions of the same data differ.
//
// decrypt() does not detect a wrong passphrase: it yields bytes of the right
// length (or, by chance, fails the length check). The next layer (the gzip
// check of common/gzip.h) rejects such garbage.
//
// Thread rule: every function is re-entrant and callable from any thread.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "common/hash20.h"

namespace Core_Common {

// The smallest envelope: header byte, 17 random bytes (L = 15), 8 seed bytes.
inline constexpr std::size_t envelope_min_size = 26;

// Fills `count` bytes from the operating system's cryptographic generator.
// Throws boost::system::system_error only if the system has no such
// generator; it never hands out predictable bytes.
void random_bytes(void* buffer, std::size_t count);

// The SHA-1 digest of `length` bytes; for length 0 the all-zero hash20 (not
// the digest of empty input), which the local store relies on for an empty
// password.
hash20 sha1(const void* data, std::size_t length);

// Wraps `data` in the envelope under `passphrase` (its bytes as they are) and
// returns true. If the cipher fails, `data` is emptied and false returned.
bool encrypt(std::string_view passphrase, std::string& data);
bool encrypt(std::string_view passphrase, std::vector<std::uint8_t>& data);

// Opens the envelope in `data` under `passphrase`. Returns
//   - false with `data` unchanged when it is shorter than 26 bytes;
//   - false with `data` empty when the cipher fails;
//   - false with `data` holding the deciphered bytes, prefix included and
//     seed removed, when the header byte announces a prefix that leaves
//     nothing;
//   - true with `data` holding the plain bytes otherwise.
bool decrypt(std::string_view passphrase, std::string& data);
bool decrypt(std::string_view passphrase, std::vector<std::uint8_t>& data);

}  // namespace Core_Common
