// The path of a local data file or a sync reply body: decrypt under a fixed
// passphrase, then gzip_decompress. No crash, no leak, no undefined
// behaviour, bounded memory.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "common/crypto.h"
#include "common/gzip.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::vector<std::uint8_t> bytes(data, data + size);
    const bool opened = Core_Common::decrypt("fuzz passphrase", bytes);
    // Short data stays as it was; an opened envelope lost its seed and at
    // least the header byte and two filler bytes.
    if (size < Core_Common::envelope_min_size && (opened || bytes.size() != size)) std::abort();
    if (opened && bytes.size() > size - 11) std::abort();
    if (opened) {
        Core_Common::gzip_decompress(bytes);
        if (bytes.size() > Core_Common::gzip_inflate_limit) std::abort();
    }
    return 0;
}
