// Internal to the server: the SQLite backend of InterfaceStore (store.h).
//
// The database runs in WAL mode with synchronous=FULL, so an acknowledged
// change survives a crash of the process or the machine, and readers never
// wait for the writer. Every write runs in a BEGIN IMMEDIATE transaction:
// writers on the same file, from any process, take turns, each waiting up to
// the busy time-out, which makes version assignment atomic.
#pragma once

#include <memory>
#include <string>

#include "store.h"
#include "store_open.h"

namespace Core_Server {

// Opens (creating when missing) the SQLite database at `path`. See
// open_store in store_open.h for the contract.
[[nodiscard]] store_status_t open_sqlite_store(const std::string& path,
                                               const store_options_t& options,
                                               std::unique_ptr<InterfaceStore>& out);

}  // namespace Core_Server
