#include "postgres_store.h"

#include <libpq-fe.h>

#include <deque>
#include <utility>
#include <vector>

#include "common/big_endian.h"
#include "schema.h"
#include "utc_time.h"
#include "version_history.h"

namespace Core_Server {

std::string redact_postgres_url(const std::string& url) {
    // scheme://[user[:password]@]host...: drop ":password" from the part
    // before the last '@' of the authority.
    const auto scheme_end = url.find("://");
    if (scheme_end == std::string::npos) return url;
    const auto authority_begin = scheme_end + 3;
    auto authority_end = url.find_first_of("/?", authority_begin);
    if (authority_end == std::string::npos) authority_end = url.size();
    const auto at = url.rfind('@', authority_end);
    std::string result = url;
    if (at != std::string::npos && at >= authority_begin) {
        const auto colon = url.find(':', authority_begin);
        if (colon != std::string::npos && colon < at) {
            result = url.substr(0, colon) + url.substr(at);
        }
    }
    // A password given as a query parameter.
    const auto query = result.find('?');
    if (query != std::string::npos) {
        std::string rest = result.substr(query + 1), kept;
        std::size_t pos = 0;
        while (pos <= rest.size()) {
            auto amp = rest.find('&', pos);
            if (amp == std::string::npos) amp = rest.size();
            const std::string item = rest.substr(pos, amp - pos);
            if (item.rfind("password=", 0) != 0 && !item.empty()) {
                kept += (kept.empty() ? "" : "&") + item;
            }
            pos = amp + 1;
        }
        result = result.substr(0, query) + (kept.empty() ? "" : "?" + kept);
    }
    return result;
}

namespace {

// A libpq result, cleared when it goes.
class result_t {
public:
    explicit result_t(PGresult* res = nullptr) : m_res(res) {}
    result_t(result_t&& other) noexcept : m_res(std::exchange(other.m_res, nullptr)) {}
    result_t& operator=(result_t&& other) noexcept {
        std::swap(m_res, other.m_res);
        return *this;
    }
    ~result_t() { PQclear(m_res); }

    PGresult* get() const { return m_res; }
    ExecStatusType status() const { return m_res ? PQresultStatus(m_res) : PGRES_FATAL_ERROR; }
    bool command_ok() const { return status() == PGRES_COMMAND_OK; }
    bool tuples_ok() const { return status() == PGRES_TUPLES_OK; }
    int rows() const { return PQntuples(m_res); }
    std::string sqlstate() const {
        const char* s = m_res ? PQresultErrorField(m_res, PG_DIAG_SQLSTATE) : nullptr;
        return s ? s : "";
    }
    std::string affected() const { return m_res ? PQcmdTuples(m_res) : ""; }

    // Results come in binary: integers in network byte order, text and
    // bytea as raw bytes.
    std::int64_t integer(int row, int column) const {
        if (PQgetisnull(m_res, row, column)) return 0;
        const int n = PQgetlength(m_res, row, column);
        const std::uint64_t v =
            Core_Common::get_be(PQgetvalue(m_res, row, column), static_cast<std::size_t>(n));
        if (n == 4) return static_cast<std::int32_t>(static_cast<std::uint32_t>(v));
        if (n == 2) return static_cast<std::int16_t>(static_cast<std::uint16_t>(v));
        return static_cast<std::int64_t>(v);
    }
    std::string bytes(int row, int column) const {
        if (PQgetisnull(m_res, row, column)) return {};
        return std::string(PQgetvalue(m_res, row, column),
                           static_cast<std::size_t>(PQgetlength(m_res, row, column)));
    }

private:
    PGresult* m_res;
};

// Parameters of one statement: integers as decimal text, strings and bytes
// as raw binary values.
class params_t {
public:
    params_t& add(std::int64_t v) {
        m_owned.push_back(std::to_string(v));
        m_refs.push_back({&m_owned.back(), 0});
        return *this;
    }
    params_t& add(const std::string& bytes) {
        m_refs.push_back({&bytes, 1});
        return *this;
    }
    void lay_out() {
        m_values.clear();
        m_lengths.clear();
        m_formats.clear();
        for (const auto& r : m_refs) {
            m_values.push_back(r.value->data());
            m_lengths.push_back(static_cast<int>(r.value->size()));
            m_formats.push_back(r.format);
        }
    }
    int count() const { return static_cast<int>(m_refs.size()); }
    const char* const* values() const { return m_values.empty() ? nullptr : m_values.data(); }
    const int* lengths() const { return m_lengths.empty() ? nullptr : m_lengths.data(); }
    const int* formats() const { return m_formats.empty() ? nullptr : m_formats.data(); }

private:
    struct ref_t {
        const std::string* value;
        int format;
    };
    // A deque keeps its elements in place as it grows and when it moves.
    std::deque<std::string> m_owned;
    std::vector<ref_t> m_refs;
    std::vector<const char*> m_values;
    std::vector<int> m_lengths;
    std::vector<int> m_formats;
};

enum statement_enum {
    ADD_ACCOUNT,
    SET_PASSWORD,
    DELETE_ACCOUNT,
    FIND_ACCOUNT,
    LOCK_ACCOUNT,
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

const char* const statement_sql[STATEMENT_COUNT] = {
    "INSERT INTO accounts (name, password_hash, created) VALUES ($1, $2, $3)",
    "UPDATE accounts SET password_hash = $2 WHERE name = $1",
    "DELETE FROM accounts WHERE name = $1",
    "SELECT id, name, password_hash FROM accounts WHERE name = $1",
    "SELECT id FROM accounts WHERE id = $1 FOR UPDATE",
    "SELECT a.name, v.version, v.date FROM accounts a"
    " LEFT JOIN tree_versions v ON v.account_id = a.id AND v.version ="
    " (SELECT max(version) FROM tree_versions WHERE account_id = a.id)"
    " ORDER BY a.name COLLATE \"C\"",
    "SELECT version, date, client_type, size FROM tree_versions WHERE account_id = $1"
    " ORDER BY version DESC LIMIT 1",
    "SELECT version, date, client_type, size, tree FROM tree_versions WHERE account_id = $1"
    " ORDER BY version DESC LIMIT 1",
    "SELECT version, date, client_type, size, tree FROM tree_versions"
    " WHERE account_id = $1 AND version = $2",
    "SELECT version, date, client_type, size FROM tree_versions WHERE account_id = $1"
    " ORDER BY version DESC",
    "INSERT INTO tree_versions (account_id, version, date, client_type, size, tree)"
    " VALUES ($1, $2, $3, $4, $5, $6)",
    "DELETE FROM tree_versions WHERE account_id = $1 AND version <= $2",
    "INSERT INTO settings (name, value) VALUES ($1, $2)"
    " ON CONFLICT (name) DO UPDATE SET value = EXCLUDED.value",
    "SELECT value FROM settings WHERE name = $1",
    "UPDATE accounts SET password_hash = $3 WHERE name = $1 AND password_hash = $2",
    "INSERT INTO peer_logins (account_id, peer_id, last_login) VALUES ($1, $2, $3)"
    " ON CONFLICT (account_id, peer_id)"
    " DO UPDATE SET last_login = GREATEST(peer_logins.last_login, EXCLUDED.last_login)",
    "DELETE FROM peer_logins WHERE account_id = $1 AND last_login < $2",
    "SELECT 1 FROM peer_logins WHERE account_id = $1 AND peer_id = $2 AND last_login >= $3",
};

// Serialises schema migrations of every process on the database.
constexpr const char* MIGRATION_LOCK_KEY = "7405390261";

void ignore_notice(void*, const char*) {}

// Writes lock the account's row (SELECT ... FOR UPDATE) before anything else.
class postgres_store_t final : public InterfaceStore, private InterfaceVersionRows {
public:
    postgres_store_t(std::string url, const store_options_t& options)
        : m_url(std::move(url)), m_described(redact_postgres_url(m_url)), m_options(options) {}
    ~postgres_store_t() override { PQfinish(m_conn); }

    store_status_t open();

    std::string describe() const override { return m_described; }

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
    void abandon_write() override { plain("ROLLBACK"); }
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

    std::string error_text(const result_t* res) const {
        std::string text = res && res->get() ? PQresultErrorMessage(res->get()) : "";
        if (text.empty()) text = PQerrorMessage(m_conn);
        while (!text.empty() && (text.back() == '\n' || text.back() == ' ')) text.pop_back();
        return text.empty() ? "unknown error" : text;
    }
    store_status_t failure(const std::string& operation, const result_t* res = nullptr) const {
        return store_status_t::failed(operation + " on store " + m_described + ": " +
                                      error_text(res));
    }
    result_t run(statement_enum which, params_t params = params_t()) {
        params.lay_out();
        return result_t(PQexecPrepared(m_conn, statement_name(which).c_str(), params.count(),
                                       params.values(), params.lengths(), params.formats(), 1));
    }
    // A statement without values (transaction control, schema).
    result_t plain(const char* sql, params_t params = params_t()) {
        params.lay_out();
        return result_t(PQexecParams(m_conn, sql, params.count(), nullptr, params.values(),
                                     params.lengths(), params.formats(), 1));
    }
    static std::string statement_name(int which) { return "zv_" + std::to_string(which); }
    store_status_t configure_session();
    store_status_t migrate();
    store_status_t prepare_statements();
    // Makes the connection usable for the next operation: resets a broken
    // connection (and prepares again), ends a transaction left open.
    store_status_t ready(const char* operation);
    store_status_t abandon(store_status_t status) {
        plain("ROLLBACK");
        return status;
    }

    std::string m_url;
    std::string m_described;
    store_options_t m_options;
    PGconn* m_conn = nullptr;
};

store_status_t postgres_store_t::open() {
    m_conn = PQconnectdb(m_url.c_str());
    if (!m_conn) return store_status_t::failed("cannot connect to store " + m_described);
    if (PQstatus(m_conn) != CONNECTION_OK) {
        return store_status_t::failed("cannot connect to store " + m_described + ": " +
                                      error_text(nullptr));
    }
    PQsetNoticeProcessor(m_conn, ignore_notice, nullptr);
    if (auto status = configure_session(); !status.ok()) return status;
    if (auto status = migrate(); !status.ok()) return status;
    return prepare_statements();
}

store_status_t postgres_store_t::configure_session() {
    params_t p;
    const std::string timeout = std::to_string(m_options.busy_timeout_ms) + "ms";
    p.add(timeout);
    auto res = plain(
        "SELECT set_config('lock_timeout', $1, false),"
        " set_config('synchronous_commit', 'on', false),"
        " set_config('client_min_messages', 'warning', false)",
        std::move(p));
    if (!res.tuples_ok()) return failure("configure connection", &res);
    return store_status_t::success();
}

store_status_t postgres_store_t::migrate() {
    if (auto res = plain("BEGIN"); !res.command_ok())
        return failure("begin schema migration", &res);
    {
        params_t p;
        const std::string key = MIGRATION_LOCK_KEY;
        p.add(key);
        auto res = plain("SELECT pg_advisory_xact_lock($1::text::bigint)", std::move(p));
        if (!res.tuples_ok()) return abandon(failure("lock for schema migration", &res));
    }
    if (auto res = plain("CREATE TABLE IF NOT EXISTS schema_version (version INTEGER NOT NULL)");
        !res.command_ok()) {
        return abandon(failure("create schema_version", &res));
    }
    auto res = plain("SELECT version FROM schema_version");
    if (!res.tuples_ok()) return abandon(failure("read schema version", &res));
    const bool has_row = res.rows() > 0;
    int current = has_row ? static_cast<int>(res.integer(0, 0)) : 0;
    if (current > latest_schema_version()) {
        return abandon(store_status_t::failed(
            "cannot use store " + m_described + ": its schema version " + std::to_string(current) +
            " is newer than this program's " + std::to_string(latest_schema_version())));
    }
    for (const auto& migration : schema_migrations()) {
        if (migration.version <= current) continue;
        for (const auto& sql : migration.postgresql) {
            if (auto r = plain(sql.c_str()); !r.command_ok()) {
                return abandon(failure("apply schema migration", &r));
            }
        }
        current = migration.version;
    }
    params_t p;
    p.add(std::int64_t{current});
    auto record = plain(has_row ? "UPDATE schema_version SET version = $1::text::integer"
                                : "INSERT INTO schema_version (version) VALUES ($1::text::integer)",
                        std::move(p));
    if (!record.command_ok()) return abandon(failure("record schema version", &record));
    if (auto r = plain("COMMIT"); !r.command_ok()) {
        return abandon(failure("commit schema migration", &r));
    }
    return store_status_t::success();
}

store_status_t postgres_store_t::prepare_statements() {
    for (int i = 0; i < STATEMENT_COUNT; ++i) {
        result_t res(PQprepare(m_conn, statement_name(i).c_str(), statement_sql[i], 0, nullptr));
        if (!res.command_ok()) return failure("prepare statements", &res);
    }
    return store_status_t::success();
}

store_status_t postgres_store_t::ready(const char* operation) {
    if (PQstatus(m_conn) != CONNECTION_OK) {
        PQreset(m_conn);
        if (PQstatus(m_conn) != CONNECTION_OK) return failure(operation);
        PQsetNoticeProcessor(m_conn, ignore_notice, nullptr);
        if (auto status = configure_session(); !status.ok()) return status;
        if (auto status = prepare_statements(); !status.ok()) return status;
    }
    if (PQtransactionStatus(m_conn) != PQTRANS_IDLE) plain("ROLLBACK");
    return store_status_t::success();
}

store_status_t postgres_store_t::add_account(const std::string& name, const std::string& hash) {
    if (auto status = ready("add account"); !status.ok()) return status;
    const std::string created = utc_now_text();
    auto res = run(ADD_ACCOUNT, std::move(params_t().add(name).add(hash).add(created)));
    if (res.command_ok()) return store_status_t::success();
    if (res.sqlstate() == "23505") {
        return store_status_t::exists("account \"" + name + "\" already exists");
    }
    return failure("add account", &res);
}

store_status_t postgres_store_t::set_password_hash(const std::string& name,
                                                   const std::string& hash) {
    if (auto status = ready("set password"); !status.ok()) return status;
    auto res = run(SET_PASSWORD, std::move(params_t().add(name).add(hash)));
    if (!res.command_ok()) return failure("set password", &res);
    if (res.affected() == "0") return store_status_t::not_found("no account \"" + name + "\"");
    return store_status_t::success();
}

store_status_t postgres_store_t::replace_password_hash(const std::string& name,
                                                       const std::string& old_hash,
                                                       const std::string& new_hash) {
    if (auto status = ready("replace password"); !status.ok()) return status;
    auto res = run(REPLACE_PASSWORD, std::move(params_t().add(name).add(old_hash).add(new_hash)));
    if (!res.command_ok()) return failure("replace password", &res);
    if (res.affected() == "0") {
        return store_status_t::not_found("no account \"" + name + "\" with that password record");
    }
    return store_status_t::success();
}

store_status_t postgres_store_t::record_peer_login(std::int64_t account_id,
                                                   const std::string& peer_id, std::int64_t time,
                                                   std::int64_t forget_before) {
    if (auto status = ready("record peer login"); !status.ok()) return status;
    {
        auto res = run(FORGET_PEERS, std::move(params_t().add(account_id).add(forget_before)));
        if (!res.command_ok()) return failure("forget peer logins", &res);
    }
    auto res = run(RECORD_PEER, std::move(params_t().add(account_id).add(peer_id).add(time)));
    // The account may have gone since the password check.
    if (res.sqlstate() == "23503") return store_status_t::not_found("no such account");
    if (!res.command_ok()) return failure("record peer login", &res);
    return store_status_t::success();
}

store_status_t postgres_store_t::peer_logged_in_since(std::int64_t account_id,
                                                      const std::string& peer_id,
                                                      std::int64_t since, bool& yes) {
    if (auto status = ready("find peer login"); !status.ok()) return status;
    auto res = run(PEER_SINCE, std::move(params_t().add(account_id).add(peer_id).add(since)));
    if (!res.tuples_ok()) return failure("find peer login", &res);
    yes = res.rows() > 0;
    return store_status_t::success();
}

store_status_t postgres_store_t::delete_account(const std::string& name) {
    if (auto status = ready("delete account"); !status.ok()) return status;
    auto res = run(DELETE_ACCOUNT, std::move(params_t().add(name)));
    if (!res.command_ok()) return failure("delete account", &res);
    if (res.affected() == "0") return store_status_t::not_found("no account \"" + name + "\"");
    return store_status_t::success();
}

store_status_t postgres_store_t::find_account(const std::string& name, account_t& out) {
    if (auto status = ready("find account"); !status.ok()) return status;
    auto res = run(FIND_ACCOUNT, std::move(params_t().add(name)));
    if (!res.tuples_ok()) return failure("find account", &res);
    if (res.rows() == 0) return store_status_t::not_found("no account \"" + name + "\"");
    out.id = res.integer(0, 0);
    out.name = res.bytes(0, 1);
    out.password_hash = res.bytes(0, 2);
    return store_status_t::success();
}

store_status_t postgres_store_t::list_accounts(std::vector<account_summary_t>& out) {
    if (auto status = ready("list accounts"); !status.ok()) return status;
    auto res = run(LIST_ACCOUNTS);
    if (!res.tuples_ok()) return failure("list accounts", &res);
    std::vector<account_summary_t> list;
    for (int row = 0; row < res.rows(); ++row) {
        account_summary_t a;
        a.name = res.bytes(row, 0);
        a.latest_version = static_cast<std::int32_t>(res.integer(row, 1));
        a.latest_date = res.bytes(row, 2);
        list.push_back(std::move(a));
    }
    out = std::move(list);
    return store_status_t::success();
}

void read_row(const result_t& res, int row, bool with_tree, tree_version_t& out) {
    out.version = static_cast<std::int32_t>(res.integer(row, 0));
    out.date = res.bytes(row, 1);
    out.client_type = res.bytes(row, 2);
    out.size = res.integer(row, 3);
    out.tree = with_tree ? res.bytes(row, 4) : std::string();
}

store_status_t postgres_store_t::latest_version(std::int64_t account_id, bool with_tree,
                                                tree_version_t& out) {
    if (auto status = ready("read latest version"); !status.ok()) return status;
    return read_latest_version(*this, account_id, with_tree, out);
}

store_status_t postgres_store_t::get_version(std::int64_t account_id, std::int32_t version,
                                             tree_version_t& out) {
    if (auto status = ready("read version"); !status.ok()) return status;
    return read_kept_version(*this, account_id, version, out);
}

store_status_t postgres_store_t::list_versions(std::int64_t account_id,
                                               std::vector<tree_version_t>& out) {
    if (auto status = ready("list versions"); !status.ok()) return status;
    auto res = run(LIST_VERSIONS, std::move(params_t().add(account_id)));
    if (!res.tuples_ok()) return failure("list versions", &res);
    std::vector<tree_version_t> list;
    for (int row = 0; row < res.rows(); ++row) {
        tree_version_t v;
        read_row(res, row, false, v);
        list.push_back(std::move(v));
    }
    out = std::move(list);
    return store_status_t::success();
}

store_status_t postgres_store_t::commit(commit_request_t request, commit_result_t& out) {
    return commit_version(*this, m_options.keep_versions, std::move(request), out);
}

store_status_t postgres_store_t::restore(std::int64_t account_id, std::int32_t version,
                                         const std::string& date, tree_version_t& out) {
    return restore_version(*this, m_options.keep_versions, account_id, version, date, out);
}

store_status_t postgres_store_t::begin_write(const char* operation) {
    if (auto status = ready(operation); !status.ok()) return status;
    if (auto res = plain("BEGIN"); !res.command_ok()) {
        return failure(std::string("begin ") + operation, &res);
    }
    return store_status_t::success();
}

store_status_t postgres_store_t::end_write(const char* operation) {
    if (auto res = plain("COMMIT"); !res.command_ok()) return failure(operation, &res);
    return store_status_t::success();
}

store_status_t postgres_store_t::lock_account(const char* operation, std::int64_t account_id,
                                              bool& exists) {
    auto res = run(LOCK_ACCOUNT, std::move(params_t().add(account_id)));
    if (!res.tuples_ok()) return failure(operation, &res);
    exists = res.rows() > 0;
    return store_status_t::success();
}

store_status_t postgres_store_t::read_head(const char* operation, std::int64_t account_id,
                                           bool with_tree, tree_version_t& out, bool& found) {
    auto res = run(with_tree ? LATEST_FULL : LATEST_META, std::move(params_t().add(account_id)));
    if (!res.tuples_ok()) return failure(operation, &res);
    found = res.rows() > 0;
    if (found) read_row(res, 0, with_tree, out);
    return store_status_t::success();
}

store_status_t postgres_store_t::read_version(const char* operation, std::int64_t account_id,
                                              std::int32_t version, tree_version_t& out,
                                              bool& found) {
    auto res = run(GET_VERSION, std::move(params_t().add(account_id).add(std::int64_t{version})));
    if (!res.tuples_ok()) return failure(operation, &res);
    found = res.rows() > 0;
    if (found) read_row(res, 0, true, out);
    return store_status_t::success();
}

store_status_t postgres_store_t::insert_version(const char* operation, std::int64_t account_id,
                                                const tree_version_t& v) {
    auto res = run(INSERT_VERSION, std::move(params_t()
                                                 .add(account_id)
                                                 .add(std::int64_t{v.version})
                                                 .add(v.date)
                                                 .add(v.client_type)
                                                 .add(static_cast<std::int64_t>(v.tree.size()))
                                                 .add(v.tree)));
    if (!res.command_ok()) return failure(operation, &res);
    return store_status_t::success();
}

store_status_t postgres_store_t::prune_versions(const char* operation, std::int64_t account_id,
                                                std::int32_t last) {
    auto res = run(PRUNE_VERSIONS, std::move(params_t().add(account_id).add(std::int64_t{last})));
    if (!res.command_ok()) return failure(operation, &res);
    return store_status_t::success();
}

store_status_t postgres_store_t::set_maintenance(bool on) {
    if (auto status = ready("set maintenance"); !status.ok()) return status;
    const std::string name = "maintenance", value = on ? "on" : "off";
    auto res = run(SET_SETTING, std::move(params_t().add(name).add(value)));
    if (!res.command_ok()) return failure("set maintenance", &res);
    return store_status_t::success();
}

store_status_t postgres_store_t::get_maintenance(bool& on) {
    if (auto status = ready("read maintenance"); !status.ok()) return status;
    const std::string name = "maintenance";
    auto res = run(GET_SETTING, std::move(params_t().add(name)));
    if (!res.tuples_ok()) return failure("read maintenance", &res);
    on = res.rows() > 0 && res.bytes(0, 0) == "on";
    return store_status_t::success();
}

}  // namespace

store_status_t open_postgres_store(const std::string& url, const store_options_t& options,
                                   std::unique_ptr<InterfaceStore>& out) {
    out.reset();
    auto store = std::make_unique<postgres_store_t>(url, options);
    if (auto status = store->open(); !status.ok()) return status;
    out = std::move(store);
    return store_status_t::success();
}

}  // namespace Core_Server
