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
    };
    return migrations;
}

int latest_schema_version() { return schema_migrations().back().version; }

}  // namespace Core_Server
