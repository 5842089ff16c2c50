// Internal to the server: the database schema, as an ordered list of
// migrations shared by both backends.
//
// Tables (the same on SQLite and PostgreSQL, in each one's own types):
//   schema_version(version)                  one row: the last migration applied
//   accounts(id, name UNIQUE, password_hash, created)   an id is never reused
//   tree_versions(account_id -> accounts ON DELETE CASCADE, version, date,
//                 client_type, size, tree;  PRIMARY KEY (account_id, version))
//   settings(name PRIMARY KEY, value)        "maintenance" = "on" | "off"
//   peer_logins(account_id -> accounts ON DELETE CASCADE, peer_id,
//               last_login;  PRIMARY KEY (account_id, peer_id))
//
// A migration is applied once, inside the transaction that records its
// number; a database whose schema_version is newer than the last migration
// known here is refused rather than used.
#pragma once

#include <string>
#include <vector>

namespace Core_Server {

struct migration_t {
    int version = 0;
    std::vector<std::string> sqlite;      // statements, in order
    std::vector<std::string> postgresql;  // the same in PostgreSQL's dialect
};

// Every migration, in increasing version order starting at 1.
const std::vector<migration_t>& schema_migrations();

// The version the schema has after every migration.
int latest_schema_version();

}  // namespace Core_Server
