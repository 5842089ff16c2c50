#include "common/hash20.h"

#include <cstring>

#include "platform/strings.h"

namespace Core_Common {

hash20::hash20(const void* bytes) { std::memcpy(m_bytes.data(), bytes, size); }

bool hash20::from_bytes(std::string_view raw, hash20& out) {
    if (raw.size() != size) return false;
    out = hash20(raw.data());
    return true;
}

std::string hash20::to_bytes() const {
    return std::string(reinterpret_cast<const char*>(m_bytes.data()), size);
}

std::string hash20::to_hex(bool upper_case) const {
    std::string out;
    out.reserve(2 * size);
    for (std::uint8_t b : m_bytes) {
        out.push_back(upper_case ? Core_Platform::hex_digit_upper(b >> 4)
                                 : Core_Platform::hex_digit_lower(b >> 4));
        out.push_back(upper_case ? Core_Platform::hex_digit_upper(b)
                                 : Core_Platform::hex_digit_lower(b));
    }
    return out;
}

bool hash20::is_zero() const {
    for (std::uint8_t b : m_bytes) {
        if (b != 0) return false;
    }
    return true;
}

}  // namespace Core_Common
