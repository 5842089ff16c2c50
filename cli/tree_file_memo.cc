#include "tree_file_memo.h"

#include <sys/stat.h>

#include <cstdio>
#include <sstream>

#include "common/whole_file.h"
#include "platform/strings.h"

namespace Zorvane_Cli {
namespace {

constexpr const char* kMemoFile = "tree-file.memo";
constexpr const char* kMagic = "zorvane tree file memo 1";

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

std::string hex(const Core_Common::sha256_t::value_t& v) {
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
           "\nfile " + hex(memo.file) + "\ntext " + hex(memo.text) + "\n";
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
    const std::size_t at = stored.find("\nfile ");
    const std::size_t text_at = stored.find("\ntext ");
    if (at == std::string::npos || text_at == std::string::npos) return std::nullopt;
    auto parse = [&](std::size_t from, Core_Common::sha256_t::value_t& out) {
        for (std::size_t i = 0; i < out.size(); ++i) {
            unsigned value = 0;
            if (std::sscanf(stored.c_str() + from + 2 * i, "%2x", &value) != 1) return false;
            out[i] = static_cast<std::uint8_t>(value);
        }
        return true;
    };
    if (!parse(at + 6, memo.file) || !parse(text_at + 6, memo.text)) return std::nullopt;
    if (memo_text(memo, program) != stored) return std::nullopt;
    return memo;
}

bool save_tree_file_memo(const std::string& data_dir, const tree_file_memo_t& memo) {
    const std::string program = program_identity();
    if (program.empty()) return false;
    return Core_Common::write_private_file(memo_path(data_dir), memo_text(memo, program));
}

Core_Common::sha256_t::value_t text_digest(std::u16string_view text) {
    return Core_Common::sha256_t::of(text.data(), text.size() * sizeof(char16_t));
}

}  // namespace Zorvane_Cli
