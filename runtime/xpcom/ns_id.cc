#include "xpcom/ns_id.h"

bool nsID::Parse(const char* text) {
    if (text == nullptr) return false;
    return ns_id_detail::parse(std::string_view(text), *this);
}

void nsID::ToProvidedString(char (&dest)[NSID_LENGTH]) const {
    static constexpr char digits[] = "0123456789abcdef";
    std::size_t pos = 0;
    auto put = [&](std::uint64_t value, int count) {
        for (int i = count - 1; i >= 0; --i) dest[pos++] = digits[(value >> (4 * i)) & 0xF];
    };
    dest[pos++] = '{';
    put(m0, 8);
    dest[pos++] = '-';
    put(m1, 4);
    dest[pos++] = '-';
    put(m2, 4);
    dest[pos++] = '-';
    put(m3[0], 2);
    put(m3[1], 2);
    dest[pos++] = '-';
    for (int i = 2; i < 8; ++i) put(m3[i], 2);
    dest[pos++] = '}';
    dest[pos] = '\0';
}
