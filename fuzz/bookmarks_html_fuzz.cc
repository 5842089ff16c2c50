// The bookmark-file HTML reader on arbitrary bytes: no crash, no hang, no
// undefined behaviour; the same bytes always give the same tree, and the
// file written from a tree that was read reads again.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "bookmarks/bookmarks_html.h"
#include "bookmarks/tree_xml.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using Core_ZorvaneMerge::zorvane_node_t;
    std::string_view html(reinterpret_cast<const char*>(data), size);
    zorvane_node_t first, second;
    const bool read = Core_ZorvaneMerge::read_bookmarks_html(html, first);
    if (read != Core_ZorvaneMerge::read_bookmarks_html(html, second)) __builtin_trap();
    if (!read) return 0;
    std::string a, b;
    Core_ZorvaneMerge::write_tree(first, a);
    Core_ZorvaneMerge::write_tree(second, b);
    if (a != b) __builtin_trap();
    zorvane_node_t again;
    if (!Core_ZorvaneMerge::read_bookmarks_html(Core_ZorvaneMerge::write_bookmarks_html(first),
                                                again))
        __builtin_trap();
    return 0;
}
