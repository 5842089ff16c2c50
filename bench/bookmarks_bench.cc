// Bookmark trees: the three-way merge at 100,000 bookmarks, the fast merge
// against the literal one at 20,000, and reading plus writing the document
// form. Fixed seeds, so every run measures the same work. Prints its figures
// and whether they meet the targets (wall-clock figures suffer on a busy
// machine; the processor times printed beside them do much less).
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <string>
#include <vector>

#include "bookmarks/literal_merge_testing.h"
#include "bookmarks/merge.h"
#include "bookmarks/tree_generator_testing.h"
#include "bookmarks/tree_xml.h"
#include "platform/resource_usage.h"

namespace {

using namespace Core_ZorvaneMerge;
using clock_type = std::chrono::steady_clock;

double seconds_since(clock_type::time_point start) {
    return std::chrono::duration<double>(clock_type::now() - start).count();
}

double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

// Base, local and remote trees of `bookmarks` nodes in nested folders, each
// side with about 1% edits (additions, deletions, renames, moves, reorders).
merge_input make_input(std::size_t bookmarks, std::uint64_t seed) {
    tree_generator gen(seed);
    tree_generator::options_t options;
    options.bookmarks = bookmarks;
    options.folder_every = 15;
    options.max_depth = 6;
    merge_input in;
    in.base = gen.make_tree(options);
    in.local = in.base;
    in.remote = in.base;
    std::size_t edits = bookmarks / 100;
    gen.edit(in.local, edits);
    gen.edit(in.remote, edits);
    return in;
}

std::size_t count_nodes(const zorvane_node_t& n) {
    std::size_t c = 1;
    for (const auto& k : n.children) c += count_nodes(k);
    return c;
}

// Processor time of this process, in seconds: on a shared machine it shows
// the work done where the wall clock also shows the waiting.
double cpu_seconds() { return static_cast<double>(std::clock()) / CLOCKS_PER_SEC; }

struct timing_t {
    double wall;  // median
    double cpu;   // median
};

timing_t time_merge(const merge_input& in, int runs, bool literal_merge) {
    std::vector<double> times, cpu;
    for (int i = 0; i < runs; ++i) {
        zorvane_node_t out;
        const double cpu_start = cpu_seconds();
        auto start = clock_type::now();
        if (literal_merge) {
            literal::merge_trees(in, out);
        } else {
            merge_trees(in, out);
        }
        times.push_back(seconds_since(start));
        cpu.push_back(cpu_seconds() - cpu_start);
    }
    return {median(times), median(cpu)};
}

}  // namespace

int main(int argc, char** argv) {
    // Optional argument: "merge" runs only the 100k merge (for profiling).
    const bool merge_only = argc > 1 && std::string(argv[1]) == "merge";
    bool ok = true;
    std::printf("bookmark trees benchmark\n");

    // 1. Merge at 100,000 bookmarks.
    auto gen_start = clock_type::now();
    merge_input big = make_input(100000, 42);
    std::printf("  generated 100k trees (%zu nodes each) in %.1f s\n", count_nodes(big.base),
                seconds_since(gen_start));
    const timing_t merge_100k = time_merge(big, 11, false);
    const double peak_mb =
        static_cast<double>(Core_Platform::peak_resident_bytes()) / (1024.0 * 1024.0);
    std::printf(
        "  merge_trees, 100k bookmarks, 1%% edits each side: median %.1f ms, processor %.1f ms"
        " (target <= 150 ms)\n",
        merge_100k.wall * 1e3, merge_100k.cpu * 1e3);
    std::printf("  peak resident memory after the 100k merges: %.0f MB (target < 500 MB)\n",
                peak_mb);
    ok = ok && merge_100k.wall <= 0.150 && peak_mb < 500;

    if (merge_only) return 0;

    // 2. Fast against literal at 20,000 bookmarks.
    merge_input mid = make_input(20000, 43);
    const timing_t fast_20k = time_merge(mid, 11, false);
    const timing_t literal_20k = time_merge(mid, 3, true);
    const double ratio = literal_20k.wall / fast_20k.wall;
    std::printf(
        "  20k bookmarks: fast %.2f ms, literal %.1f ms, ratio %.0fx (processor time ratio %.0fx)"
        " (target >= 50x)\n",
        fast_20k.wall * 1e3, literal_20k.wall * 1e3, ratio, literal_20k.cpu / fast_20k.cpu);
    ok = ok && ratio >= 50;

    // 3. Document form of the 100,000-bookmark tree.
    std::string document;
    write_tree(big.base, document);
    std::vector<double> times, cpu;
    for (int i = 0; i < 5; ++i) {
        const double cpu_start = cpu_seconds();
        auto start = clock_type::now();
        zorvane_node_t tree;
        read_tree(document, tree);
        std::string again;
        write_tree(tree, again);
        times.push_back(seconds_since(start));
        cpu.push_back(cpu_seconds() - cpu_start);
        if (again != document) {
            std::printf("  read+write changed the document\n");
            ok = false;
        }
    }
    const double rw = median(times);
    const double mb = static_cast<double>(document.size()) / (1024.0 * 1024.0);
    std::printf(
        "  read_tree + write_tree, %.1f MB document: median %.0f ms, %.1f MB/s; processor %.0f ms,"
        " %.1f MB/s (target >= 40 MB/s)\n",
        mb, rw * 1e3, mb / rw, median(cpu) * 1e3, mb / median(cpu));
    ok = ok && mb / rw >= 40;

    std::printf("  %s\n", ok ? "all targets met" : "a target was missed");
    return 0;
}
