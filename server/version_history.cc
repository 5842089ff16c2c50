#include "version_history.h"

#include <utility>

namespace Core_Server {
namespace {

// The write transaction of one operation: rolled back when the operation
// ends without committing it (a conflict, a missing account or version, a
// failed step).
class write_t {
public:
    explicit write_t(InterfaceVersionRows& rows) : m_rows(rows) {}
    write_t(const write_t&) = delete;
    write_t& operator=(const write_t&) = delete;
    ~write_t() {
        if (m_open) m_rows.abandon_write();
    }

    store_status_t begin(const char* operation) {
        auto status = m_rows.begin_write(operation);
        m_open = status.ok();
        return status;
    }
    store_status_t end(const char* operation) {
        auto status = m_rows.end_write(operation);
        m_open = !status.ok();
        return status;
    }

private:
    InterfaceVersionRows& m_rows;
    bool m_open = false;
};

store_status_t vanished(const InterfaceVersionRows& rows, const char* operation) {
    return store_status_t::failed(std::string(operation) + " on store " + rows.describe() +
                                  ": the stored version went");
}

store_status_t not_kept(std::int32_t version) {
    return store_status_t::not_found("version " + std::to_string(version) + " is not kept");
}

// Locks the account; NOT_FOUND when it is not there.
store_status_t lock(InterfaceVersionRows& rows, const char* operation, std::int64_t account_id) {
    bool exists = false;
    if (auto status = rows.lock_account(operation, account_id, exists); !status.ok()) {
        return status;
    }
    if (!exists) return store_status_t::not_found("no such account");
    return store_status_t::success();
}

// Stores `next` and drops what it pushes out of the kept versions.
store_status_t append(InterfaceVersionRows& rows, const char* operation, int keep_versions,
                      std::int64_t account_id, const tree_version_t& next) {
    if (auto status = rows.insert_version(operation, account_id, next); !status.ok()) {
        return status;
    }
    return rows.prune_versions(operation, account_id,
                               static_cast<std::int32_t>(next.version - keep_versions));
}

}  // namespace

store_status_t commit_version(InterfaceVersionRows& rows, int keep_versions,
                              commit_request_t request, commit_result_t& out) {
    const char* const operation = "commit";
    write_t write(rows);
    if (auto status = write.begin(operation); !status.ok()) return status;
    if (auto status = lock(rows, operation, request.account_id); !status.ok()) return status;
    tree_version_t head;
    bool found = false;
    // The stored tree is read only for a conflict's answer.
    if (auto status = rows.read_head(operation, request.account_id, false, head, found);
        !status.ok()) {
        return status;
    }
    if (found && !request.overwrite && request.baseline != head.version) {
        if (auto status = rows.read_head(operation, request.account_id, true, head, found);
            !status.ok()) {
            return status;
        }
        if (!found) return vanished(rows, operation);
        out.outcome = commit_outcome_enum::CONFLICT;
        out.version = std::move(head);
        return store_status_t::success();
    }
    tree_version_t next;
    next.version = found ? head.version + 1 : 1;
    next.date = std::move(request.date);
    next.client_type = std::move(request.client_type);
    next.size = static_cast<std::int64_t>(request.tree.size());
    next.tree = std::move(request.tree);
    if (auto status = append(rows, operation, keep_versions, request.account_id, next);
        !status.ok()) {
        return status;
    }
    if (auto status = write.end(operation); !status.ok()) return status;
    out.outcome = commit_outcome_enum::COMMITTED;
    out.version = std::move(next);
    return store_status_t::success();
}

store_status_t restore_version(InterfaceVersionRows& rows, int keep_versions,
                               std::int64_t account_id, std::int32_t version,
                               const std::string& date, tree_version_t& out) {
    const char* const operation = "restore";
    write_t write(rows);
    if (auto status = write.begin(operation); !status.ok()) return status;
    if (auto status = lock(rows, operation, account_id); !status.ok()) return status;
    tree_version_t old;
    bool found = false;
    if (auto status = rows.read_version(operation, account_id, version, old, found); !status.ok()) {
        return status;
    }
    if (!found) return not_kept(version);
    tree_version_t head;
    if (auto status = rows.read_head(operation, account_id, false, head, found); !status.ok()) {
        return status;
    }
    // A kept version and no newest one: never number a copy from nothing.
    if (!found) return vanished(rows, operation);
    tree_version_t next;
    next.version = head.version + 1;
    next.date = date;
    next.client_type = std::move(old.client_type);
    next.size = static_cast<std::int64_t>(old.tree.size());
    next.tree = std::move(old.tree);
    if (auto status = append(rows, operation, keep_versions, account_id, next); !status.ok()) {
        return status;
    }
    if (auto status = write.end(operation); !status.ok()) return status;
    out = std::move(next);
    return store_status_t::success();
}

store_status_t read_latest_version(InterfaceVersionRows& rows, std::int64_t account_id,
                                   bool with_tree, tree_version_t& out) {
    bool found = false;
    if (auto status = rows.read_head("read latest version", account_id, with_tree, out, found);
        !status.ok()) {
        return status;
    }
    if (!found) return store_status_t::not_found("no stored tree");
    return store_status_t::success();
}

store_status_t read_kept_version(InterfaceVersionRows& rows, std::int64_t account_id,
                                 std::int32_t version, tree_version_t& out) {
    bool found = false;
    if (auto status = rows.read_version("read version", account_id, version, out, found);
        !status.ok()) {
        return status;
    }
    if (!found) return not_kept(version);
    return store_status_t::success();
}

}  // namespace Core_Server
