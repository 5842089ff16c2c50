// The client's reply path on arbitrary bytes: a reply body opened as the
// sync client opens it (decipher, unpack, split, the document under its
// bounds), then the tree of its data part. The first byte chooses where the
// bytes enter:
//   0: the bytes as a reply body;
//   1: the rest as a plain payload (two lengths, document, data), packed and
//      enciphered here so the fuzzer reaches the split and the document.
// No crash, no leak, no undefined behaviour, and no reply opened without
// its response element.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "bookmarks/tree_xml.h"
#include "common/crypto.h"
#include "common/gzip.h"
#include "sync_client/sync_payload.h"

namespace {

void open_body(std::string body) {
    Core_Common::xml_node_t document;
    std::string data_part;
    if (!Core_ZorvaneClient::open_reply(std::move(body), document, data_part)) return;
    if (document.find_path(u"Zorvane/Response") == nullptr) std::abort();
    Core_ZorvaneMerge::zorvane_node_t tree(0, "");
    Core_ZorvaneMerge::read_tree(data_part, tree);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) return 0;
    std::string body(reinterpret_cast<const char*>(data) + 1, size - 1);
    if (data[0] == 1) {
        if (!Core_Common::gzip_compress(body) ||
            !Core_Common::encrypt(Core_ZorvaneClient::kMessagePassphrase, body)) {
            return 0;
        }
    }
    open_body(std::move(body));
    return 0;
}
