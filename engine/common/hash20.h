// Public engine surface: a 20-byte value, as SHA-1 digests and the peer
// identifier use it.
//
// A hash20 starts as 20 zero bytes. It converts to its 20 raw bytes and to a
// text of 40 hexadecimal digits, two per byte, high half first (lower case
// unless upper case is asked for; the engine always uses lower case).
//
// Thread rule: a value type; no shared state.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace Core_Common {

class hash20 {
public:
    static constexpr std::size_t size = 20;

    // All 20 bytes 0.
    hash20() = default;
    // The first 20 bytes at `bytes`.
    explicit hash20(const void* bytes);

    // Makes a value from exactly 20 raw bytes; false (and `out` untouched)
    // for any other length.
    static bool from_bytes(std::string_view raw, hash20& out);

    // The 20 raw bytes.
    std::string to_bytes() const;
    // The 40-digit text form.
    std::string to_hex(bool upper_case = false) const;
    bool is_zero() const;

    const std::uint8_t* data() const { return m_bytes.data(); }
    std::uint8_t* data() { return m_bytes.data(); }

    friend bool operator==(const hash20&, const hash20&) = default;

private:
    std::array<std::uint8_t, size> m_bytes{};
};

}  // namespace Core_Common
