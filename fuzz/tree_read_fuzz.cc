// read_tree on arbitrary bytes: no crash, no hang, no undefined behaviour;
// a document read once reads back to the same document when written; and
// the same document read in pieces (cut every n bytes, n from the input),
// or only checked, gives what the whole reading gives.
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

    if (is_tree_document(document) != (tree.type != NODE_NONE)) __builtin_trap();
    const std::size_t piece = size == 0 ? 1 : 1 + data[0] % 61;
    tree_document_reader_t reader;
    for (std::size_t at = 0; at < size; at += piece) {
        if (!reader.feed(document.substr(at, piece))) break;
    }
    zorvane_node_t in_pieces;
    if (reader.finish(in_pieces)) {
        std::string a, b;
        write_tree(tree, a);
        write_tree(in_pieces, b);
        if (a != b || tree.type != in_pieces.type) __builtin_trap();
    }

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
