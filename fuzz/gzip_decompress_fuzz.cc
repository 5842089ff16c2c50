// gzip_decompress on arbitrary bytes: no crash, no leak, no undefined
// behaviour, and never more than the inflation cap; inflated in pieces to a
// sink, a member gives the same bytes and the same verdict.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "common/gzip.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view member(reinterpret_cast<const char*>(data), size);
    std::string bytes(member);
    const bool ok = Core_Common::gzip_decompress(bytes);
    if (bytes.size() > Core_Common::gzip_inflate_limit) std::abort();
    std::string pieces;
    const bool pieces_ok = Core_Common::gzip_decompress(member, [&](std::string_view piece) {
        pieces.append(piece);
        return true;
    });
    if (pieces_ok != ok || (ok && pieces != bytes)) std::abort();
    if (ok) {
        // A member that checks out must survive our own round trip.
        std::string again = bytes;
        if (!Core_Common::gzip_compress(again) || !Core_Common::gzip_decompress(again) ||
            again != bytes) {
            std::abort();
        }
    }
    return 0;
}
