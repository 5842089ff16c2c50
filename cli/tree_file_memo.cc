#include "tree_file_memo.h"

#include <sys/stat.h>

#include <cstdio>
#include <cstring>
#include <sstream>

#include "common/whole_file.h"
#include "platform/strings.h"

namespace Zorvane_Cli {
namespace {

constexpr const char* kMemoFile = "tree-file.memo";
constexpr const char* kMagic = "zorvane tree file memo 3";

std::u16string memo_path(const std::string& data_dir) {
    return Core_Platform::utf8_to_wide(data_dir + "/" + kMemoFile);
}

// This program, as the file system knows it: another build (which may read
// files differently) is another program.
std::string program_identity() {
    struct stat st {};
    if (stat("/proc/self/exe", &st) != 0) return std::string();
    std::ostringstream out;
    out << st.st_dev << ":" << st.st_ino << ":" << st.st_size << ":" << st.st_mtim.tv_sec << "."
        << st.st_mtim.tv_nsec;
    return out.str();
}

template <std::size_t N>
std::string hex(const std::array<std::uint8_t, N>& v) {
    std::string out;
    char two[3];
    for (std::uint8_t b : v) {
        std::snprintf(two, sizeof two, "%02x", b);
        out += two;
    }
    return out;
}

std::string memo_text(const tree_file_memo_t& memo, const std::string& program) {
    return std::string(kMagic) + "\nform " + (memo.html ? "html" : "xml") + "\nprogram " + program +
           "\nfile " + hex(memo.file) + "\nkey " + hex(memo.key) + "\ntext " + hex(memo.text) +
           "\n";
}

}  // namespace

std::optional<tree_file_memo_t> load_tree_file_memo(const std::string& data_dir, bool html) {
    const std::string program = program_identity();
    if (program.empty()) return std::nullopt;
    std::string stored;
    if (!Core_Common::read_whole_file(memo_path(data_dir), stored) || stored.size() > 1024) {
        return std::nullopt;
    }
    // The memo is taken only when it is exactly what this program would
    // write for it, so a damaged one is never half believed.
    tree_file_memo_t memo;
    memo.html = html;
    // Each field's value follows "\nNAME " (the check below refuses
    // anything else).
    auto parse = [&](const char* name, auto& out) {
        const std::size_t at = stored.find(std::string("\n") + name + " ");
        if (at == std::string::npos) return false;
        const char* from = stored.c_str() + at + std::strlen(name) + 2;
        for (std::size_t i = 0; i < out.size(); ++i) {
            unsigned value = 0;
            if (std::sscanf(from + 2 * i, "%2x", &value) != 1) return false;
            out[i] = static_cast<std::uint8_t>(value);
        }
        return true;
    };
    if (!parse("file", memo.file) || !parse("key", memo.key) || !parse("text", memo.text)) {
        return std::nullopt;
    }
    if (memo_text(memo, program) != stored) return std::nullopt;
    return memo;
}

bool save_tree_file_memo(const std::string& data_dir, const tree_file_memo_t& memo) {
    const std::string program = program_identity();
    if (program.empty()) return false;
    return Core_Common::write_private_file(memo_path(data_dir), memo_text(memo, program));
}

Core_Common::fingerprint_t::value_t text_fingerprint(const Core_Common::fingerprint_t::key_t& key,
                                                     std::u16string_view text) {
    return Core_Common::fingerprint_t::of(key, text.data(), text.size() * sizeof(char16_t));
}

}  // namespace Zorvane_Cli
