// Public engine surface, shared with zorvane-server: unsigned big-endian
// integers (network byte order) in byte strings, the form of every integer
// in the session header and in front of a sync message's parts.
//
// Thread rule: pure functions, callable from any thread.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace Core_Common {

// Appends the low `size` bytes (1 to 8) of `value` to `out`, most significant
// first; higher bytes of `value` are dropped.
inline void put_be(std::string& out, std::uint64_t value, std::size_t size) {
    for (std::size_t i = size; i-- > 0;) {
        out.push_back(static_cast<char>((value >> (8 * i)) & 0xFF));
    }
}

// The `size` bytes (1 to 8) at `data`, most significant first. The caller
// makes sure they are there.
inline std::uint64_t get_be(const char* data, std::size_t size) {
    std::uint64_t value = 0;
    for (std::size_t i = 0; i < size; ++i) {
        value = (value << 8) | static_cast<unsigned char>(data[i]);
    }
    return value;
}

// The same, `size` bytes at `offset` of `data`; offset + size must not pass
// its end.
inline std::uint64_t get_be(std::string_view data, std::size_t offset, std::size_t size) {
    return get_be(data.data() + offset, size);
}

}  // namespace Core_Common
