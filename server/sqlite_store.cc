#include "sqlite_store.h"

#include <fcntl.h>
#include <sqlite3.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <thread>
#include <utility>

#include "schema.h"
#include "utc_time.h"
#include "version_history.h"

namespace Core_Server {
namespace {

// One prepared statement, reset and cleared of its bindings whenever a use
// ends (the guard below), so a statement never holds a read lock between
// operations.
class statement_t {
public:
    statement_t() = default;
    statement_t(const statement_t&) = delete;
    statement_t& operator=(const statement_t&) = delete;
    ~statement_t() { sqlite3_finalize(m_stmt); }

    bool prepare(sqlite3* db, const char* sql) {
        return sqlite3_prepare_v3(db, sql, -1, SQLITE_PREPARE_PERSISTENT, &m_stmt, nullptr) ==
               SQLITE_OK;
    }
    sqlite3_stmt* get() const { return m_stmt; }

private:
    sqlite3_stmt* m_stmt = nullptr;
};

class use_t {
public:
    explicit use_t(statement_t& statement) : m_stmt(statement.get()) {}
    use_t(const use_t&) = delete;
    use_t& operator=(const use_t&) = delete;
    ~use_t() {
        sqlite3_reset(m_stmt);
        sqlite3_clear_bindings(m_stmt);
    }

    void bind(int index, std::int64_t value) { sqlite3_bind_int64(m_stmt, index, value); }
    void bind(int index, const std::string& text) {
        sqlite3_bind_text(m_stmt, index, text.data(), static_cast<int>(text.size()), SQLITE_STATIC);
    }
    void bind_blob(int index, const std::string& bytes) {
        sqlite3_bind_blob64(m_stmt, index, bytes.data(), bytes.size(), SQLITE_STATIC);
    }
    // SQLITE_ROW, SQLITE_DONE or an error code.
    int step() { return sqlite3_step(m_stmt); }

    std::int64_t integer(int column) const { return sqlite3_column_int64(m_stmt, column); }
    std::string text(int column) const {
        const auto* p = sqlite3_column_text(m_stmt, column);
        return p ? std::string(reinterpret_cast<const char*>(p),
                               static_cast<std::size_t>(sqlite3_column_bytes(m_stmt, column)))
                 : std::string();
    }
    std::string blob(int column) const {
        const void* p = sqlite3_column_blob(m_stmt, column);
        return p ? std::string(static_cast<const char*>(p),
                               static_cast<std::size_t>(sqlite3_column_bytes(m_stmt, column)))
                 : std::string();
    }

private:
    sqlite3_stmt* m_stmt;
};

// Writes take the database's write lock (BEGIN IMMEDIATE), which also locks
// every account against other writers until the transaction ends.
class sqlite_store_t final : public InterfaceStore, private InterfaceVersionRows {
public:
    sqlite_store_t(std::string path, const store_options_t& options)
        : m_path(std::move(path)), m_options(options) {}
    ~sqlite_store_t() override {
        // Statements first: sqlite3_close refuses a connection with live ones.
        m_statements.clear();
        sqlite3_close(m_db);
    }

    store_status_t open();

    std::string describe() const override { return "sqlite:" + m_path; }

    store_status_t add_account(const std::string& name, const std::string& hash) override;
    store_status_t set_password_hash(const std::string& name, const std::string& hash) override;
    store_status_t delete_account(const std::string& name) override;
    store_status_t replace_password_hash(const std::string& name, const std::string& old_hash,
                                         const std::string& new_hash) override;
    store_status_t find_account(const std::string& name, account_t& out) override;
    store_status_t list_accounts(std::vector<account_summary_t>& out) override;
    store_status_t latest_version(std::int64_t account_id, bool with_tree,
                                  tree_version_t& out) override;
    store_status_t get_version(std::int64_t account_id, std::int32_t version,
                               tree_version_t& out) override;
    store_status_t list_versions(std::int64_t account_id,
                                 std::vector<tree_version_t>& out) override;
    store_status_t commit(commit_request_t request, commit_result_t& out) override;
    store_status_t restore(std::int64_t account_id, std::int32_t version, const std::string& date,
                           tree_version_t& out) override;
    store_status_t set_maintenance(bool on) override;
    store_status_t get_maintenance(bool& on) override;
    store_status_t record_peer_login(std::int64_t account_id, const std::string& peer_id,
                                     std::int64_t time, std::int64_t forget_before) override;
    store_status_t peer_logged_in_since(std::int64_t account_id, const std::string& peer_id,
                                        std::int64_t since, bool& yes) override;

private:
    store_status_t begin_write(const char* operation) override;
    store_status_t end_write(const char* operation) override;
    void abandon_write() override { run(ROLLBACK); }
    store_status_t lock_account(const char* operation, std::int64_t account_id,
                                bool& exists) override;
    store_status_t read_head(const char* operation, std::int64_t account_id, bool with_tree,
                             tree_version_t& out, bool& found) override;
    store_status_t read_version(const char* operation, std::int64_t account_id,
                                std::int32_t version, tree_version_t& out, bool& found) override;
    store_status_t insert_version(const char* operation, std::int64_t account_id,
                                  const tree_version_t& v) override;
    store_status_t prune_versions(const char* operation, std::int64_t account_id,
                                  std::int32_t last) override;

    enum statement_enum {
        BEGIN_IMMEDIATE,
        COMMIT,
        ROLLBACK,
        ADD_ACCOUNT,
        SET_PASSWORD,
        DELETE_ACCOUNT,
        FIND_ACCOUNT,
        ACCOUNT_EXISTS,
        LIST_ACCOUNTS,
        LATEST_META,
        LATEST_FULL,
        GET_VERSION,
        LIST_VERSIONS,
        INSERT_VERSION,
        PRUNE_VERSIONS,
        SET_SETTING,
        GET_SETTING,
        REPLACE_PASSWORD,
        RECORD_PEER,
        FORGET_PEERS,
        PEER_SINCE,
        STATEMENT_COUNT,
    };

    store_status_t failure(const std::string& operation) const {
        return store_status_t::failed(operation + " on store " + describe() + ": " +
                                      sqlite3_errmsg(m_db));
    }
    statement_t& statement(statement_enum which) { return *m_statements[which]; }
    // Runs a statement that returns no rows; false on failure.
    bool run(statement_enum which) {
        use_t use(statement(which));
        return use.step() == SQLITE_DONE;
    }
    bool exec_plain(const std::string& sql);
    store_status_t migrate();
    store_status_t prepare_statements();

    std::string m_path;
    store_options_t m_options;
    sqlite3* m_db = nullptr;
    std::vector<std::unique_ptr<statement_t>> m_statements;
};

bool sqlite_store_t::exec_plain(const std::string& sql) {
    statement_t s;
    if (!s.prepare(m_db, sql.c_str())) return false;
    use_t use(s);
    int rc;
    while ((rc = use.step()) == SQLITE_ROW) {
    }
    return rc == SQLITE_DONE;
}

// The database holds every account's bookmarks and password records: it is
// created readable by its owner alone, and SQLite gives its -wal and -shm
// files the database's mode. A database left readable by others (made
// under a looser umask) is closed to them, with its -wal and -shm files.
void make_private(const std::string& path) {
    if (path.empty() || path == ":memory:") return;
    const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd >= 0) {
        ::close(fd);
        return;
    }
    for (const std::string& p : {path, path + "-wal", path + "-shm"}) {
        struct stat st;
        if (::stat(p.c_str(), &st) == 0 && S_ISREG(st.st_mode) && st.st_uid == ::geteuid() &&
            (st.st_mode & 077) != 0) {
            ::chmod(p.c_str(), st.st_mode & 0700);
        }
    }
}

store_status_t sqlite_store_t::open() {
    make_private(m_path);
    const int flags = SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_NOMUTEX;
    if (sqlite3_open_v2(m_path.c_str(), &m_db, flags, nullptr) != SQLITE_OK) {
        return store_status_t::failed("cannot open store " + describe() + ": " +
                                      (m_db ? sqlite3_errmsg(m_db) : "out of memory"));
    }
    sqlite3_extended_result_codes(m_db, 1);
    sqlite3_busy_timeout(m_db, m_options.busy_timeout_ms);
    // journal_mode answers with a row naming the mode it got; anything but
    // "wal" (a read-only medium, an in-memory path) is refused, since the
    // durability and concurrency promises rest on it.
    // Switching a new database to WAL needs a moment alone with the file;
    // while another process or connection does the same, SQLite answers
    // "database is locked" at once without calling the busy handler, so the
    // switch is retried here within the busy time-out.
    {
        statement_t s;
        if (!s.prepare(m_db, "PRAGMA journal_mode=WAL")) return failure("set journal mode");
        use_t use(s);
        int rc = use.step();
        const auto give_up =
            std::chrono::steady_clock::now() + std::chrono::milliseconds(m_options.busy_timeout_ms);
        while ((rc & 0xFF) == SQLITE_BUSY && std::chrono::steady_clock::now() < give_up) {
            sqlite3_reset(s.get());
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
            rc = use.step();
        }
        if (rc != SQLITE_ROW) return failure("set journal mode");
        if (use.text(0) != "wal") {
            return store_status_t::failed("cannot use store " + describe() +
                                          ": the database refuses write-ahead logging (mode " +
                                          use.text(0) + ")");
        }
    }
    // Foreign keys are enforced once the schema is current: a migration that
    // rebuilds a table drops the old one, which would otherwise delete the
    // rows that refer to it. The pragma has no effect inside a transaction.
    if (!exec_plain("PRAGMA synchronous=FULL") || !exec_plain("PRAGMA foreign_keys=OFF")) {
        return failure("configure connection");
    }
    if (auto status = migrate(); !status.ok()) return status;
    if (!exec_plain("PRAGMA foreign_keys=ON")) return failure("configure connection");
    return prepare_statements();
}

store_status_t sqlite_store_t::migrate() {
    if (!exec_plain("BEGIN IMMEDIATE")) return failure("begin schema migration");
    auto rollback = [this](const char* what) {
        auto status = failure(what);
        exec_plain("ROLLBACK");
        return status;
    };
    if (!exec_plain("CREATE TABLE IF NOT EXISTS schema_version (version INTEGER NOT NULL)")) {
        return rollback("create schema_version");
    }
    int current = 0;
    bool has_row = false;
    {
        statement_t s;
        if (!s.prepare(m_db, "SELECT version FROM schema_version")) {
            return rollback("read schema version");
        }
        use_t use(s);
        int rc = use.step();
        if (rc == SQLITE_ROW) {
            current = static_cast<int>(use.integer(0));
            has_row = true;
        } else if (rc != SQLITE_DONE) {
            return rollback("read schema version");
        }
    }
    if (current > latest_schema_version()) {
        exec_plain("ROLLBACK");
        return store_status_t::failed("cannot use store " + describe() + ": its schema version " +
                                      std::to_string(current) + " is newer than this program's " +
                                      std::to_string(latest_schema_version()));
    }
    for (const auto& migration : schema_migrations()) {
        if (migration.version <= current) continue;
        for (const auto& sql : migration.sqlite) {
            if (!exec_plain(sql)) return rollback("apply schema migration");
        }
        current = migration.version;
    }
    {
        // The rebuilt tables still satisfy every reference.
        statement_t s;
        if (!s.prepare(m_db, "PRAGMA foreign_key_check")) return rollback("check references");
        use_t use(s);
        if (use.step() != SQLITE_DONE) return rollback("check references after the migration");
    }
    {
        statement_t s;
        const char* sql = has_row ? "UPDATE schema_version SET version = ?1"
                                  : "INSERT INTO schema_version (version) VALUES (?1)";
        if (!s.prepare(m_db, sql)) return rollback("record schema version");
        use_t use(s);
        use.bind(1, std::int64_t{current});
        if (use.step() != SQLITE_DONE) return rollback("record schema version");
    }
    if (!exec_plain("COMMIT")) return rollback("commit schema migration");
    return store_status_t::success();
}

store_status_t sqlite_store_t::prepare_statements() {
    static const char* const sql[STATEMENT_COUNT] = {
        "BEGIN IMMEDIATE",
        "COMMIT",
        "ROLLBACK",
        "INSERT INTO accounts (name, password_hash, created) VALUES (?1, ?2, ?3)",
        "UPDATE accounts SET password_hash = ?2 WHERE name = ?1",
        "DELETE FROM accounts WHERE name = ?1",
        "SELECT id, name, password_hash FROM accounts WHERE name = ?1",
        "SELECT 1 FROM accounts WHERE id = ?1",
        "SELECT a.name, v.version, v.date FROM accounts a"
        " LEFT JOIN tree_versions v ON v.account_id = a.id AND v.version ="
        " (SELECT max(version) FROM tree_versions WHERE account_id = a.id)"
        " ORDER BY a.name",
        "SELECT version, date, client_type, size FROM tree_versions WHERE account_id = ?1"
        " ORDER BY version DESC LIMIT 1",
        "SELECT version, date, client_type, size, tree FROM tree_versions WHERE account_id = ?1"
        " ORDER BY version DESC LIMIT 1",
        "SELECT version, date, client_type, size, tree FROM tree_versions"
        " WHERE account_id = ?1 AND version = ?2",
        "SELECT version, date, client_type, size FROM tree_versions WHERE account_id = ?1"
        " ORDER BY version DESC",
        "INSERT INTO tree_versions (account_id, version, date, client_type, size, tree)"
        " VALUES (?1, ?2, ?3, ?4, ?5, ?6)",
        "DELETE FROM tree_versions WHERE account_id = ?1 AND version <= ?2",
        "INSERT INTO settings (name, value) VALUES (?1, ?2)"
        " ON CONFLICT (name) DO UPDATE SET value = excluded.value",
        "SELECT value FROM settings WHERE name = ?1",
        "UPDATE accounts SET password_hash = ?3 WHERE name = ?1 AND password_hash = ?2",
        "INSERT INTO peer_logins (account_id, peer_id, last_login) VALUES (?1, ?2, ?3)"
        " ON CONFLICT (account_id, peer_id)"
        " DO UPDATE SET last_login = max(last_login, excluded.last_login)",
        "DELETE FROM peer_logins WHERE account_id = ?1 AND last_login < ?2",
        "SELECT 1 FROM peer_logins WHERE account_id = ?1 AND peer_id = ?2 AND last_login >= ?3",
    };
    m_statements.clear();
    for (int i = 0; i < STATEMENT_COUNT; ++i) {
        auto s = std::make_unique<statement_t>();
        if (!s->prepare(m_db, sql[i])) return failure("prepare statements");
        m_statements.push_back(std::move(s));
    }
    return store_status_t::success();
}

store_status_t sqlite_store_t::add_account(const std::string& name, const std::string& hash) {
    use_t use(statement(ADD_ACCOUNT));
    use.bind(1, name);
    use.bind(2, hash);
    const std::string created = utc_now_text();
    use.bind(3, created);
    const int rc = use.step();
    if (rc == SQLITE_DONE) return store_status_t::success();
    if (rc == SQLITE_CONSTRAINT_UNIQUE) {
        return store_status_t::exists("account \"" + name + "\" already exists");
    }
    return failure("add account");
}

store_status_t sqlite_store_t::set_password_hash(const std::string& name, const std::string& hash) {
    use_t use(statement(SET_PASSWORD));
    use.bind(1, name);
    use.bind(2, hash);
    if (use.step() != SQLITE_DONE) return failure("set password");
    if (sqlite3_changes(m_db) == 0) return store_status_t::not_found("no account \"" + name + "\"");
    return store_status_t::success();
}

store_status_t sqlite_store_t::replace_password_hash(const std::string& name,
                                                     const std::string& old_hash,
                                                     const std::string& new_hash) {
    use_t use(statement(REPLACE_PASSWORD));
    use.bind(1, name);
    use.bind(2, old_hash);
    use.bind(3, new_hash);
    if (use.step() != SQLITE_DONE) return failure("replace password");
    if (sqlite3_changes(m_db) == 0) {
        return store_status_t::not_found("no account \"" + name + "\" with that password record");
    }
    return store_status_t::success();
}

store_status_t sqlite_store_t::record_peer_login(std::int64_t account_id,
                                                 const std::string& peer_id, std::int64_t time,
                                                 std::int64_t forget_before) {
    {
        use_t use(statement(FORGET_PEERS));
        use.bind(1, account_id);
        use.bind(2, forget_before);
        if (use.step() != SQLITE_DONE) return failure("forget peer logins");
    }
    use_t use(statement(RECORD_PEER));
    use.bind(1, account_id);
    use.bind(2, peer_id);
    use.bind(3, time);
    const int rc = use.step();
    // The account may have gone since the password check.
    if ((rc & 0xFF) == SQLITE_CONSTRAINT) return store_status_t::not_found("no such account");
    if (rc != SQLITE_DONE) return failure("record peer login");
    return store_status_t::success();
}

store_status_t sqlite_store_t::peer_logged_in_since(std::int64_t account_id,
                                                    const std::string& peer_id, std::int64_t since,
                                                    bool& yes) {
    use_t use(statement(PEER_SINCE));
    use.bind(1, account_id);
    use.bind(2, peer_id);
    use.bind(3, since);
    const int rc = use.step();
    if (rc != SQLITE_ROW && rc != SQLITE_DONE) return failure("find peer login");
    yes = rc == SQLITE_ROW;
    return store_status_t::success();
}

store_status_t sqlite_store_t::delete_account(const std::string& name) {
    use_t use(statement(DELETE_ACCOUNT));
    use.bind(1, name);
    if (use.step() != SQLITE_DONE) return failure("delete account");
    if (sqlite3_changes(m_db) == 0) return store_status_t::not_found("no account \"" + name + "\"");
    return store_status_t::success();
}

store_status_t sqlite_store_t::find_account(const std::string& name, account_t& out) {
    use_t use(statement(FIND_ACCOUNT));
    use.bind(1, name);
    const int rc = use.step();
    if (rc == SQLITE_DONE) return store_status_t::not_found("no account \"" + name + "\"");
    if (rc != SQLITE_ROW) return failure("find account");
    out.id = use.integer(0);
    out.name = use.text(1);
    out.password_hash = use.text(2);
    return store_status_t::success();
}

store_status_t sqlite_store_t::list_accounts(std::vector<account_summary_t>& out) {
    std::vector<account_summary_t> list;
    use_t use(statement(LIST_ACCOUNTS));
    int rc;
    while ((rc = use.step()) == SQLITE_ROW) {
        account_summary_t a;
        a.name = use.text(0);
        a.latest_version = static_cast<std::int32_t>(use.integer(1));
        a.latest_date = use.text(2);
        list.push_back(std::move(a));
    }
    if (rc != SQLITE_DONE) return failure("list accounts");
    out = std::move(list);
    return store_status_t::success();
}

namespace {
void read_row(const use_t& use, bool with_tree, tree_version_t& out) {
    out.version = static_cast<std::int32_t>(use.integer(0));
    out.date = use.text(1);
    out.client_type = use.text(2);
    out.size = use.integer(3);
    out.tree = with_tree ? use.blob(4) : std::string();
}
}  // namespace

store_status_t sqlite_store_t::latest_version(std::int64_t account_id, bool with_tree,
                                              tree_version_t& out) {
    return read_latest_version(*this, account_id, with_tree, out);
}

store_status_t sqlite_store_t::get_version(std::int64_t account_id, std::int32_t version,
                                           tree_version_t& out) {
    return read_kept_version(*this, account_id, version, out);
}

store_status_t sqlite_store_t::list_versions(std::int64_t account_id,
                                             std::vector<tree_version_t>& out) {
    std::vector<tree_version_t> list;
    use_t use(statement(LIST_VERSIONS));
    use.bind(1, account_id);
    int rc;
    while ((rc = use.step()) == SQLITE_ROW) {
        tree_version_t v;
        read_row(use, false, v);
        list.push_back(std::move(v));
    }
    if (rc != SQLITE_DONE) return failure("list versions");
    out = std::move(list);
    return store_status_t::success();
}

store_status_t sqlite_store_t::commit(commit_request_t request, commit_result_t& out) {
    return commit_version(*this, m_options.keep_versions, std::move(request), out);
}

store_status_t sqlite_store_t::restore(std::int64_t account_id, std::int32_t version,
                                       const std::string& date, tree_version_t& out) {
    return restore_version(*this, m_options.keep_versions, account_id, version, date, out);
}

store_status_t sqlite_store_t::begin_write(const char* operation) {
    if (!run(BEGIN_IMMEDIATE)) return failure(std::string("begin ") + operation);
    return store_status_t::success();
}

store_status_t sqlite_store_t::end_write(const char* operation) {
    if (!run(COMMIT)) return failure(operation);
    return store_status_t::success();
}

store_status_t sqlite_store_t::lock_account(const char* operation, std::int64_t account_id,
                                            bool& exists) {
    use_t use(statement(ACCOUNT_EXISTS));
    use.bind(1, account_id);
    const int rc = use.step();
    if (rc != SQLITE_ROW && rc != SQLITE_DONE) return failure(operation);
    exists = rc == SQLITE_ROW;
    return store_status_t::success();
}

store_status_t sqlite_store_t::read_head(const char* operation, std::int64_t account_id,
                                         bool with_tree, tree_version_t& out, bool& found) {
    use_t use(statement(with_tree ? LATEST_FULL : LATEST_META));
    use.bind(1, account_id);
    const int rc = use.step();
    if (rc != SQLITE_ROW && rc != SQLITE_DONE) return failure(operation);
    found = rc == SQLITE_ROW;
    if (found) read_row(use, with_tree, out);
    return store_status_t::success();
}

store_status_t sqlite_store_t::read_version(const char* operation, std::int64_t account_id,
                                            std::int32_t version, tree_version_t& out,
                                            bool& found) {
    use_t use(statement(GET_VERSION));
    use.bind(1, account_id);
    use.bind(2, std::int64_t{version});
    const int rc = use.step();
    if (rc != SQLITE_ROW && rc != SQLITE_DONE) return failure(operation);
    found = rc == SQLITE_ROW;
    if (found) read_row(use, true, out);
    return store_status_t::success();
}

store_status_t sqlite_store_t::insert_version(const char* operation, std::int64_t account_id,
                                              const tree_version_t& v) {
    use_t use(statement(INSERT_VERSION));
    use.bind(1, account_id);
    use.bind(2, std::int64_t{v.version});
    use.bind(3, v.date);
    use.bind(4, v.client_type);
    use.bind(5, static_cast<std::int64_t>(v.tree.size()));
    use.bind_blob(6, v.tree);
    if (use.step() != SQLITE_DONE) return failure(operation);
    return store_status_t::success();
}

store_status_t sqlite_store_t::prune_versions(const char* operation, std::int64_t account_id,
                                              std::int32_t last) {
    use_t use(statement(PRUNE_VERSIONS));
    use.bind(1, account_id);
    use.bind(2, std::int64_t{last});
    if (use.step() != SQLITE_DONE) return failure(operation);
    return store_status_t::success();
}

store_status_t sqlite_store_t::set_maintenance(bool on) {
    use_t use(statement(SET_SETTING));
    const std::string name = "maintenance", value = on ? "on" : "off";
    use.bind(1, name);
    use.bind(2, value);
    if (use.step() != SQLITE_DONE) return failure("set maintenance");
    return store_status_t::success();
}

store_status_t sqlite_store_t::get_maintenance(bool& on) {
    use_t use(statement(GET_SETTING));
    const std::string name = "maintenance";
    use.bind(1, name);
    const int rc = use.step();
    if (rc == SQLITE_DONE) {
        on = false;
        return store_status_t::success();
    }
    if (rc != SQLITE_ROW) return failure("read maintenance");
    on = use.text(0) == "on";
    return store_status_t::success();
}

}  // namespace

store_status_t open_sqlite_store(const std::string& path, const store_options_t& options,
                                 std::unique_ptr<InterfaceStore>& out) {
    out.reset();
    if (path.empty()) return store_status_t::failed("cannot open store sqlite:: empty path");
    auto store = std::make_unique<sqlite_store_t>(path, options);
    if (auto status = store->open(); !status.ok()) return status;
    out = std::move(store);
    return store_status_t::success();
}

}  // namespace Core_Server
