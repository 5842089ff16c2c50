// Internal to the server: the storage of accounts, bookmark-tree versions and
// the operator's switches, behind one interface with two backends (SQLite
// and PostgreSQL, see store_open.h).
//
// What is kept:
//   - accounts: a unique name and the password hash record of
//     password_hash.h (never the password);
//   - per account, the last `keep_versions` versions of its bookmark tree:
//     version number (1 for the first, then strictly increasing, never
//     reused while the account exists), the UTC date text
//     "YYYY-MM-DD HH:MM:SS", the client type of the commit that made it, the
//     tree bytes as received and their size. A stored version is never
//     changed; older ones are dropped once `keep_versions` newer ones exist.
//     Restoring an old version stores it again as a new version;
//   - the maintenance flag, shared by every server process on the store.
//
// Concurrency: an InterfaceStore object (one database connection) is used by
// one thread at a time; a process that serves on several threads borrows
// objects from a store_pool_t (store_pool.h). Any number of objects, in any
// number of processes, may work on the same database at once: commit and
// restore assign versions atomically across all of them.
//
// Durability: when commit, restore or an account operation returns OK, the
// change is on stable storage (SQLite: WAL with synchronous=FULL;
// PostgreSQL: synchronous commit).
//
// Errors: every operation returns a store_status_t that the caller must look
// at. FAILED means the database could not do the work (unreachable, locked
// past the busy time-out, disk full, corrupt); its message names the
// operation, the store and the database's own error text, and the store is
// left unchanged by the failed operation.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace Core_Server {

struct store_status_t {
    enum code_enum {
        OK = 0,
        NOT_FOUND,       // no such account, version or stored tree
        ALREADY_EXISTS,  // an account of that name exists
        FAILED,          // the database failed; see message
    };
    code_enum code = OK;
    std::string message;

    bool ok() const { return code == OK; }
    static store_status_t success() { return {}; }
    static store_status_t not_found(std::string text) { return {NOT_FOUND, std::move(text)}; }
    static store_status_t exists(std::string text) { return {ALREADY_EXISTS, std::move(text)}; }
    static store_status_t failed(std::string text) { return {FAILED, std::move(text)}; }
};

// An account as the server sees it when a request names it.
struct account_t {
    std::int64_t id = 0;
    std::string name;
    std::string password_hash;
};

// One account in the operator's list.
struct account_summary_t {
    std::string name;
    std::int32_t latest_version = 0;  // 0 when no tree is stored
    std::string latest_date;          // empty when no tree is stored
};

// One stored version of an account's tree. `tree` is filled only by the
// operations that say so; `size` always holds the size of the stored tree.
struct tree_version_t {
    std::int32_t version = 0;
    std::string date;
    std::string client_type;
    std::int64_t size = 0;
    std::string tree;
};

// A commit of a tree by a client.
struct commit_request_t {
    std::int64_t account_id = 0;
    // The version the client's tree is based on; ignored when `overwrite`.
    std::int32_t baseline = 0;
    // Store the tree as a new version whatever the baseline.
    bool overwrite = false;
    std::string client_type;
    std::string tree;
    // UTC date text "YYYY-MM-DD HH:MM:SS" for the new version (utc_time.h).
    std::string date;
};

enum class commit_outcome_enum {
    // A new version was stored; `version` of the result describes it.
    COMMITTED,
    // The baseline is not the stored version; nothing was stored and
    // `version` of the result is the stored version, tree included.
    CONFLICT,
};

struct commit_result_t {
    commit_outcome_enum outcome = commit_outcome_enum::CONFLICT;
    tree_version_t version;
};

class InterfaceStore {
public:
    InterfaceStore() = default;
    InterfaceStore(const InterfaceStore&) = delete;
    InterfaceStore& operator=(const InterfaceStore&) = delete;
    // Closes the connection; nothing is lost, every acknowledged change is
    // already durable.
    virtual ~InterfaceStore() = default;

    // The store as operators name it, without any password ("sqlite:PATH",
    // "postgresql://user@host:port/db"); used in messages.
    virtual std::string describe() const = 0;

    // Accounts. `password_hash` is a record made by password_hash.h.
    // add_account: ALREADY_EXISTS when the name is taken.
    [[nodiscard]] virtual store_status_t add_account(const std::string& name,
                                                     const std::string& password_hash) = 0;
    // set_password_hash, delete_account, find_account: NOT_FOUND when there
    // is no account of that name. Deleting an account deletes its versions.
    [[nodiscard]] virtual store_status_t set_password_hash(const std::string& name,
                                                           const std::string& password_hash) = 0;
    [[nodiscard]] virtual store_status_t delete_account(const std::string& name) = 0;
    // Replaces the password hash of `name` by `new_hash` only while it is
    // still `old_hash` (a newer record, set by the operator meanwhile, is
    // kept). NOT_FOUND when there is no such account with that hash.
    [[nodiscard]] virtual store_status_t replace_password_hash(const std::string& name,
                                                               const std::string& old_hash,
                                                               const std::string& new_hash) = 0;
    [[nodiscard]] virtual store_status_t find_account(const std::string& name, account_t& out) = 0;
    // Every account, by name in byte order.
    [[nodiscard]] virtual store_status_t list_accounts(std::vector<account_summary_t>& out) = 0;

    // The newest stored version of the account, with its tree when
    // `with_tree`. NOT_FOUND when the account has no stored tree.
    [[nodiscard]] virtual store_status_t latest_version(std::int64_t account_id, bool with_tree,
                                                        tree_version_t& out) = 0;
    // One kept version, tree included. NOT_FOUND when it is not kept.
    [[nodiscard]] virtual store_status_t get_version(std::int64_t account_id, std::int32_t version,
                                                     tree_version_t& out) = 0;
    // The kept versions, newest first, without their trees.
    [[nodiscard]] virtual store_status_t list_versions(std::int64_t account_id,
                                                       std::vector<tree_version_t>& out) = 0;

    // Stores the request's tree as the next version when the account has no
    // stored tree, when the baseline equals the stored version, or when the
    // request overwrites; otherwise reports CONFLICT with the stored version.
    // Atomic: of several commits on the same baseline, from any connections
    // or processes, exactly one is COMMITTED. NOT_FOUND when the account does
    // not exist (it may have been deleted meanwhile).
    // The request's tree moves into `out` when it is stored (a tree is tens of
    // megabytes; the caller hands it over rather than keeping a copy).
    [[nodiscard]] virtual store_status_t commit(commit_request_t request, commit_result_t& out) = 0;
    // Stores a copy of kept version `version` (tree and client type) as the
    // next version, dated `date`; `out` describes the new version with its
    // tree. NOT_FOUND when the account or the version is not there.
    [[nodiscard]] virtual store_status_t restore(std::int64_t account_id, std::int32_t version,
                                                 const std::string& date, tree_version_t& out) = 0;

    // Logins of a client (its peer identifier) to an account. `time` is in
    // seconds since 1970, UTC. record_peer_login keeps the latest time of
    // the pair and forgets the account's pairs last seen before
    // `forget_before`; peer_logged_in_since sets `yes` when the pair logged
    // in at `since` or later.
    [[nodiscard]] virtual store_status_t record_peer_login(std::int64_t account_id,
                                                           const std::string& peer_id,
                                                           std::int64_t time,
                                                           std::int64_t forget_before) = 0;
    [[nodiscard]] virtual store_status_t peer_logged_in_since(std::int64_t account_id,
                                                              const std::string& peer_id,
                                                              std::int64_t since, bool& yes) = 0;

    // The maintenance flag, read and written in the database itself so that
    // every server process on the store sees a change.
    [[nodiscard]] virtual store_status_t set_maintenance(bool on) = 0;
    [[nodiscard]] virtual store_status_t get_maintenance(bool& on) = 0;
};

}  // namespace Core_Server
