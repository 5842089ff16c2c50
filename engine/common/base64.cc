#include "common/base64.h"

#include <cryptopp/base64.h>
#include <cryptopp/filters.h>

namespace Core_Common {

std::string base64_encode(const void* bytes, std::size_t length) {
    std::string out;
    if (length == 0) return out;
    // Line breaks every 72 characters are the encoder's default; the text is
    // kept as one line.
    CryptoPP::StringSource source(static_cast<const CryptoPP::byte*>(bytes), length, true,
                                  new CryptoPP::Base64Encoder(new CryptoPP::StringSink(out)));
    std::erase(out, '\n');
    return out;
}

std::string base64_encode(std::string_view bytes) {
    return base64_encode(bytes.data(), bytes.size());
}

std::string base64_decode(const char* text, std::size_t length) {
    std::string out;
    if (length == 0) return out;
    CryptoPP::StringSource source(reinterpret_cast<const CryptoPP::byte*>(text), length, true,
                                  new CryptoPP::Base64Decoder(new CryptoPP::StringSink(out)));
    return out;
}

std::string base64_decode(std::string_view text) { return base64_decode(text.data(), text.size()); }

}  // namespace Core_Common
