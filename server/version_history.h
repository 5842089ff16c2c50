// Internal to the server: the rules of an account's version history, written
// once for every backend.
//
//   commit   stores the request's tree as the next version when the account
//            has no stored tree, when the baseline is the stored version, or
//            when the request overwrites; otherwise it is a CONFLICT that
//            stores nothing and answers with the stored version, tree
//            included.
//   restore  stores a copy of a kept version (tree and client type) as the
//            next version.
//   prune    after each new version, the versions older than the newest
//            `keep_versions` go.
//
// Both run inside one write transaction of the backend, with the account
// locked first, so that writers of one account take turns and of several
// commits on the same baseline exactly one is COMMITTED. A version found
// kept while the account has no newest version, or a newest version that
// goes between two reads of the same transaction, is an inconsistency of the
// database: the operation FAILS and stores nothing, rather than numbering a
// new version from nothing.
//
// A backend gives the rules its rows through InterfaceVersionRows: primitive
// operations it runs in its own SQL. Any primitive may fail; the rules then
// abandon the transaction and return the primitive's status, so a failed
// operation leaves the store unchanged.
#pragma once

#include <cstdint>
#include <string>

#include "store.h"

namespace Core_Server {

// The primitive operations on an account's versions. Those that write run
// inside the write transaction that begin_write opened; read_head and
// read_version may also run alone, each a single consistent read.
// `operation` names the caller's operation ("commit", "restore") for the
// message of a FAILED status, which also names the store and the database's
// own error text. Used by one thread at a time, like the store it belongs to.
class InterfaceVersionRows {
public:
    InterfaceVersionRows() = default;
    InterfaceVersionRows(const InterfaceVersionRows&) = delete;
    InterfaceVersionRows& operator=(const InterfaceVersionRows&) = delete;
    virtual ~InterfaceVersionRows() = default;

    // The store as operators name it, for messages.
    virtual std::string describe() const = 0;

    // Opens a write transaction (FAILED "begin <operation> ..." when it
    // cannot); end_write commits it, abandon_write rolls it back. After
    // a FAILED end_write the transaction must still be abandoned.
    [[nodiscard]] virtual store_status_t begin_write(const char* operation) = 0;
    [[nodiscard]] virtual store_status_t end_write(const char* operation) = 0;
    virtual void abandon_write() = 0;

    // Locks the account against every other writer until the transaction
    // ends; `exists` is false when there is no such account.
    [[nodiscard]] virtual store_status_t lock_account(const char* operation,
                                                      std::int64_t account_id, bool& exists) = 0;
    // The account's newest version, its tree only when `with_tree`; `found`
    // is false when it has none.
    [[nodiscard]] virtual store_status_t read_head(const char* operation, std::int64_t account_id,
                                                   bool with_tree, tree_version_t& out,
                                                   bool& found) = 0;
    // Kept version `version`, tree included; `found` is false when it is not
    // kept.
    [[nodiscard]] virtual store_status_t read_version(const char* operation,
                                                      std::int64_t account_id, std::int32_t version,
                                                      tree_version_t& out, bool& found) = 0;
    // Stores `v` as it is (its size is the size of its tree).
    [[nodiscard]] virtual store_status_t insert_version(const char* operation,
                                                        std::int64_t account_id,
                                                        const tree_version_t& v) = 0;
    // Drops the account's versions numbered `last` and below.
    [[nodiscard]] virtual store_status_t prune_versions(const char* operation,
                                                        std::int64_t account_id,
                                                        std::int32_t last) = 0;
};

// The contracts of InterfaceStore::commit and InterfaceStore::restore
// (store.h), on `rows`, keeping the newest `keep_versions` (at least 1)
// versions of each account.
[[nodiscard]] store_status_t commit_version(InterfaceVersionRows& rows, int keep_versions,
                                            commit_request_t request, commit_result_t& out);
[[nodiscard]] store_status_t restore_version(InterfaceVersionRows& rows, int keep_versions,
                                             std::int64_t account_id, std::int32_t version,
                                             const std::string& date, tree_version_t& out);

// The contracts of InterfaceStore::latest_version and
// InterfaceStore::get_version on `rows`, outside any transaction.
[[nodiscard]] store_status_t read_latest_version(InterfaceVersionRows& rows,
                                                 std::int64_t account_id, bool with_tree,
                                                 tree_version_t& out);
[[nodiscard]] store_status_t read_kept_version(InterfaceVersionRows& rows, std::int64_t account_id,
                                               std::int32_t version, tree_version_t& out);

}  // namespace Core_Server
