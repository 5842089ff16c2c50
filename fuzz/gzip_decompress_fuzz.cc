// gzip_decompress on arbitrary bytes: no crash, no leak, no undefined
// behaviour, and never more than the inflation cap.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "common/gzip.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::string bytes(reinterpret_cast<const char*>(data), size);
    const bool ok = Core_Common::gzip_decompress(bytes);
    if (bytes.size() > Core_Common::gzip_inflate_limit) std::abort();
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
