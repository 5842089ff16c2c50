#include "schema.h"

namespace Core_Server {

const std::vector<migration_t>& schema_migrations() {
    static const std::vector<migration_t> migrations = {
        {1,
         {
             "CREATE TABLE accounts ("
             " id INTEGER PRIMARY KEY,"
             " name TEXT NOT NULL UNIQUE,"
             " password_hash TEXT NOT NULL,"
             " created TEXT NOT NULL)",
             "CREATE TABLE tree_versions ("
             " account_id INTEGER NOT NULL REFERENCES accounts(id) ON DELETE CASCADE,"
             " version INTEGER NOT NULL,"
             " date TEXT NOT NULL,"
             " client_type TEXT NOT NULL,"
             " size INTEGER NOT NULL,"
             " tree BLOB NOT NULL,"
             " PRIMARY KEY (account_id, version))",
             "CREATE TABLE settings ("
             " name TEXT PRIMARY KEY,"
             " value TEXT NOT NULL)",
         },
         {
             "CREATE TABLE accounts ("
             " id BIGINT GENERATED ALWAYS AS IDENTITY PRIMARY KEY,"
             " name TEXT NOT NULL UNIQUE,"
             " password_hash TEXT NOT NULL,"
             " created TEXT NOT NULL)",
             "CREATE TABLE tree_versions ("
             " account_id BIGINT NOT NULL REFERENCES accounts(id) ON DELETE CASCADE,"
             " version INTEGER NOT NULL,"
             " date TEXT NOT NULL,"
             " client_type TEXT NOT NULL,"
             " size BIGINT NOT NULL,"
             " tree BYTEA NOT NULL,"
             " PRIMARY KEY (account_id, version))",
             "CREATE TABLE settings ("
             " name TEXT PRIMARY KEY,"
             " value TEXT NOT NULL)",
         }},
        // The clients (account, peer identifier) that logged in, and when
        // last (seconds since 1970, UTC): the login throttle spares them.
        {2,
         {
             "CREATE TABLE peer_logins ("
             " account_id INTEGER NOT NULL REFERENCES accounts(id) ON DELETE CASCADE,"
             " peer_id TEXT NOT NULL,"
             " last_login INTEGER NOT NULL,"
             " PRIMARY KEY (account_id, peer_id))",
         },
         {
             "CREATE TABLE peer_logins ("
             " account_id BIGINT NOT NULL REFERENCES accounts(id) ON DELETE CASCADE,"
             " peer_id TEXT NOT NULL,"
             " last_login BIGINT NOT NULL,"
             " PRIMARY KEY (account_id, peer_id))",
         }},
        // An account's number is never given again once the account is
        // deleted: a request that signed in as the old account and commits
        // a moment later must not land in a new account of the same number.
        // SQLite reuses the largest rowid unless the key is AUTOINCREMENT,
        // which only a new table gives (the tree versions and logins keep
        // their rows; foreign keys are off while the schema changes).
        // PostgreSQL's identity column never reuses a number.
        {3,
         {
             "CREATE TABLE accounts_numbered ("
             " id INTEGER PRIMARY KEY AUTOINCREMENT,"
             " name TEXT NOT NULL UNIQUE,"
             " password_hash TEXT NOT NULL,"
             " created TEXT NOT NULL)",
             "INSERT INTO accounts_numbered (id, name, password_hash, created)"
             " SELECT id, name, password_hash, created FROM accounts",
             "DROP TABLE accounts",
             "ALTER TABLE accounts_numbered RENAME TO accounts",
         },
         {}},
    };
    return migrations;
}

int latest_schema_version() { return schema_migrations().back().version; }

}  // namespace Core_Server
