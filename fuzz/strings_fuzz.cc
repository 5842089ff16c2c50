// Fuzzes the UTF-8 and hex decoders with arbitrary bytes and checks their
// round-trip properties.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "platform/strings.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::string_view in(reinterpret_cast<const char*>(data), size);
    std::u16string wide = Core_Platform::utf8_to_wide(in);
    // Every unit is an XML character on its own, or half of a complete
    // surrogate pair (a character outside the Basic Multilingual Plane).
    for (std::size_t i = 0; i < wide.size(); ++i) {
        char16_t cu = wide[i];
        if (cu >= 0xD800 && cu <= 0xDBFF && i + 1 < wide.size() && wide[i + 1] >= 0xDC00 &&
            wide[i + 1] <= 0xDFFF) {
            ++i;
            continue;
        }
        if (!Core_Platform::is_xml_code_unit(cu)) std::abort();
    }
    // Decoded text contains only XML characters, so it re-encodes and decodes
    // to itself.
    if (Core_Platform::utf8_to_wide(Core_Platform::wide_to_utf8(wide)) != wide) std::abort();

    std::string bytes;
    if (Core_Platform::from_hex(in, bytes)) {
        if (Core_Platform::ascii_lower(in) != Core_Platform::to_hex(bytes)) std::abort();
    }
    return 0;
}
