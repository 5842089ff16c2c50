// read_tree on arbitrary bytes: no crash, no hang, no undefined behaviour;
// and a document read once reads back to the same document when written.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "bookmarks/tree_xml.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace Core_ZorvaneMerge;
    std::string_view document(reinterpret_cast<const char*>(data), size);
    zorvane_node_t tree;
    read_tree(document, tree);
    if (tree.type == NODE_NONE) return 0;
    std::string written;
    write_tree(tree, written);
    zorvane_node_t again;
    read_tree(written, again);
    if (again.type == NODE_NONE) __builtin_trap();
    std::string rewritten;
    write_tree(again, rewritten);
    if (rewritten != written) __builtin_trap();
    return 0;
}
