#include "mass_delete_guard.h"

#include <algorithm>
#include <string>
#include <unordered_set>

#include "bookmarks/tree_xml.h"
#include "platform/strings.h"
#include "sync_client/local_store.h"

namespace Zorvane_Cli {
namespace {

using Core_ZorvaneMerge::zorvane_node_t;

void collect_bookmarks(const zorvane_node_t& node, std::unordered_set<std::string>& out) {
    if (node.type == Core_ZorvaneMerge::NODE_BOOKMARK) out.insert(node.guid);
    for (const zorvane_node_t& child : node.children) collect_bookmarks(child, out);
}

}  // namespace

removal_count_t count_removals(const zorvane_node_t& last, const zorvane_node_t& browser) {
    std::unordered_set<std::string> before;
    std::unordered_set<std::string> after;
    collect_bookmarks(last, before);
    collect_bookmarks(browser, after);
    removal_count_t count;
    count.synchronised = before.size();
    for (const std::string& guid : before) {
        if (after.count(guid) == 0) ++count.removed;
    }
    return count;
}

bool is_mass_delete(const removal_count_t& count) {
    return count.removed > kMassDeleteLimit || 2 * count.removed > count.synchronised;
}

std::size_t node_count(const zorvane_node_t& tree) {
    if (tree.type == Core_ZorvaneMerge::NODE_NONE) return 0;
    std::size_t n = 1;
    for (const zorvane_node_t& child : tree.children) n += node_count(child);
    return n;
}

bool same_document(std::u16string_view wide, std::string_view utf8) {
    constexpr std::size_t kPiece = 256 * 1024;
    std::string piece;
    std::size_t matched = 0;
    for (std::size_t at = 0; at < wide.size();) {
        std::size_t n = std::min(wide.size() - at, kPiece);
        if (at + n < wide.size() && wide[at + n - 1] >= 0xD800 && wide[at + n - 1] <= 0xDBFF) --n;
        Core_Platform::wide_to_utf8(wide.substr(at, n), piece);
        if (utf8.substr(matched, piece.size()) != piece) return false;
        matched += piece.size();
        at += n;
    }
    return matched == utf8.size();
}

bool local_changes_pending(const std::string& data_dir, const std::string& user,
                           const std::string& password) {
    Core_ZorvaneClient::account_t account;
    account.user_name = Core_Platform::utf8_to_wide(user);
    account.password = Core_Platform::utf8_to_wide(password);
    Core_ZorvaneClient::sync_record_t record;
    std::string client_type;
    bool pending = false;
    return Core_ZorvaneClient::load_record_file(Core_Platform::utf8_to_wide(data_dir), account,
                                                record, client_type,
                                                &pending) == Core_ZorvaneClient::RECORD_LOADED &&
           pending;
}

bool guard_allows(std::u16string_view last_document, const zorvane_node_t& browser, bool allowed,
                  const char* action, const std::function<bool()>& deletes_nothing,
                  std::ostream& err) {
    if (last_document.empty()) return true;
    zorvane_node_t last;
    Core_ZorvaneMerge::read_tree(Core_Platform::wide_to_utf8(last_document), last);
    const removal_count_t count = count_removals(last, browser);
    if (!is_mass_delete(count)) return true;
    // A first sync that did not finish: the engine merges without deleting.
    if (std::string_view(action) == "sync" && deletes_nothing()) return true;
    if (allowed) {
        err << "zorvane: " << action << " removes " << count.removed << " of " << count.synchronised
            << " bookmarks (allowed by --allow-mass-delete)\n";
        return true;
    }
    err << "zorvane: refusing to " << action << ": it would remove " << count.removed << " of "
        << count.synchronised
        << " synchronised bookmarks; check the tree file, or give --allow-mass-delete\n";
    return false;
}

}  // namespace Zorvane_Cli
