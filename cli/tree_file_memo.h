// Internal to the zorvane program: what the last synchronised tree file read
// as, remembered in the data directory, so that syncing the same file again
// does not read it again.
//
// Reading a tree file is a pure function of its bytes (and of the program
// that reads it): a browser's export of tens of thousands of bookmarks takes
// about a second to read and write as a tree document. The memo holds, for
// one file, the digest of its bytes and the fingerprint of the UTF-16 text
// of the document it read as (with the memo's own random key), the form (HTML
// or XML) and the identity of the program. When a file's bytes have that
// digest, its document is the one whose text has that fingerprint: if the
// stored tree's text has it too, the file holds the stored tree and nothing
// needs reading. What the memo says is a fact about the file alone, checked
// whenever it is used: it may be learnt whatever the sync made of the file.
//
// The memo is a private file (0600) of the data directory, which keeps its
// key secret; a missing or damaged one only means the file is read.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

#include "common/fingerprint.h"
#include "common/sha256.h"

namespace Zorvane_Cli {

struct tree_file_memo_t {
    bool html = false;
    Core_Common::sha256_t::value_t file{};       // digest of the file's bytes
    Core_Common::fingerprint_t::key_t key{};     // of `text`
    Core_Common::fingerprint_t::value_t text{};  // of its document's UTF-16 text
};

// The memo of `data_dir`, when there is one this program wrote for files of
// this form.
std::optional<tree_file_memo_t> load_tree_file_memo(const std::string& data_dir, bool html);

// Replaces the memo of `data_dir`; false (and nothing said) when it cannot
// be written, which costs only a later reading.
bool save_tree_file_memo(const std::string& data_dir, const tree_file_memo_t& memo);

// The fingerprint of a UTF-16 text as a memo with `key` keeps it.
Core_Common::fingerprint_t::value_t text_fingerprint(const Core_Common::fingerprint_t::key_t& key,
                                                     std::u16string_view text);

}  // namespace Zorvane_Cli
