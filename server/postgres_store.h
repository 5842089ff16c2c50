// Internal to the server: the PostgreSQL backend of InterfaceStore (store.h),
// through libpq.
//
// Every statement is prepared once per connection and run with parameters.
// Commit and restore lock the account's row (SELECT ... FOR UPDATE) before
// reading the stored version, so concurrent writers of one account, from any
// process, take turns and exactly one of several commits on the same
// baseline succeeds; the (account_id, version) primary key backs this up.
// A connection found broken is reset once at the start of the next
// operation, so the store recovers when the database comes back.
#pragma once

#include <memory>
#include <string>

#include "store.h"
#include "store_open.h"

namespace Core_Server {

// Connects to the database named by the libpq connection URI `url`. See
// open_store in store_open.h for the contract.
[[nodiscard]] store_status_t open_postgres_store(const std::string& url,
                                                 const store_options_t& options,
                                                 std::unique_ptr<InterfaceStore>& out);

// `url` without its password, for messages.
std::string redact_postgres_url(const std::string& url);

}  // namespace Core_Server
