// xml_node_t::parse on arbitrary bytes, then the lookups and the output of
// whatever tree came out: no crash, no leak, no undefined behaviour.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "common/xml_node.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    Core_Common::xml_node_t root;
    const bool ok = root.parse(data, size);
    if (!ok) {
        if (!root.name.empty() || !root.children.empty()) std::abort();
        return 0;
    }
    if (root.name.empty()) return 0;  // a name that is not UTF-8 converts to nothing
    std::int64_t number = 0;
    std::u16string wide;
    for (const Core_Common::xml_node_t* child : root.children) {
        root.get_child(child->name, number);
        root.get_child(child->name, wide);
        root.find_path(child->name + u"/" + child->name);
    }
    std::string out;
    root.serialize(out, true);
    root.serialize(out, false);
    return 0;
}
