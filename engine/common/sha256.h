// Public engine surface: a SHA-256 digest taken a piece at a time.
//
// For telling whether a large text is the one seen before without keeping
// it: the digest of tens of megabytes takes a few tens of milliseconds.
//
//   sha256_t d;
//   d.add(piece) for each piece;
//   const sha256_t::value_t v = d.finish();   // the digest of the pieces joined
//
// Thread rule: one object is used by one thread at a time.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string_view>

namespace Core_Common {

class sha256_t {
public:
    using value_t = std::array<std::uint8_t, 32>;

    // Throws std::runtime_error if the cryptographic library fails (it
    // cannot allocate its state).
    sha256_t();
    ~sha256_t();
    sha256_t(const sha256_t&) = delete;
    sha256_t& operator=(const sha256_t&) = delete;

    void add(const void* data, std::size_t length);
    void add(std::string_view bytes) { add(bytes.data(), bytes.size()); }
    // The digest of everything added; the object then starts afresh.
    value_t finish();

    // The digest of `length` bytes at once.
    static value_t of(const void* data, std::size_t length);

private:
    struct state_t;
    std::unique_ptr<state_t> m_state;
};

}  // namespace Core_Common
