// Internal to the server: choosing and opening a store from its URL.
//
//   sqlite:PATH            a SQLite database file (created when missing);
//                          PATH may be relative to the working directory
//   postgresql://...       a PostgreSQL database through libpq; any
//   postgres://...         connection URI libpq accepts. Keep passwords out
//                          of the URL: libpq reads PGPASSWORD or ~/.pgpass.
//
// Opening connects, brings the schema up to date (schema.h) under a lock, so
// that several processes may open the same new database at once, and
// prepares every statement.
#pragma once

#include <memory>
#include <string>

#include "store.h"

namespace Core_Server {

// The store used when none is named: a SQLite file in the working directory.
inline constexpr const char* DEFAULT_STORE_URL = "sqlite:zorvane.db";
inline constexpr int DEFAULT_KEEP_VERSIONS = 20;
inline constexpr int DEFAULT_BUSY_TIMEOUT_MS = 10000;

struct store_options_t {
    // How many versions of each account's tree are kept (at least 1).
    int keep_versions = DEFAULT_KEEP_VERSIONS;
    // How long an operation waits for another connection's write to finish
    // before it fails (SQLite's busy time-out; PostgreSQL's lock_timeout).
    int busy_timeout_ms = DEFAULT_BUSY_TIMEOUT_MS;
};

// True when `url` names one of the backends above (its syntax only).
bool is_store_url(const std::string& url);

// Opens the store named by `url`. On success stores the new store in `out`
// and returns OK. On failure leaves `out` empty and returns FAILED with a
// message naming the store and the reason (unknown scheme, cannot open or
// connect, schema newer than this program, ...).
[[nodiscard]] store_status_t open_store(const std::string& url, const store_options_t& options,
                                        std::unique_ptr<InterfaceStore>& out);

}  // namespace Core_Server
