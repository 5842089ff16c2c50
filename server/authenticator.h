// Internal to the server: checking the user name and password of a request.
//
// One authenticator_t per server process, shared by every thread serving
// requests (thread-safe). It combines the stored password records
// (password_hash.h), the verification cache (verification_cache.h) and the
// throttle of failed attempts (failure_throttle.h), keyed both by account
// name and by peer address:
//
//   1. the account is looked up in the store;
//   2. a name, password and record remembered by the cache pass at once,
//      even while the throttle refuses others, so an attacker guessing a
//      user's password does not lock that user's own clients out once they
//      have synced;
//   3. otherwise, a name or address that the throttle refuses is refused
//      without checking anything;
//   4. otherwise the password is checked against the record (an unknown
//      name is checked against a dummy record, so both cost the same time);
//      a failure counts against the name and the address.
//
// The caller must answer INVALID and THROTTLED the same way on the wire, so
// that neither reveals whether the account exists.
#pragma once

#include <chrono>
#include <string>

#include "failure_throttle.h"
#include "password_hash.h"
#include "store.h"
#include "verification_cache.h"

namespace Core_Server {

struct authenticator_options_t {
    std::chrono::milliseconds cache_lifetime = std::chrono::minutes(2);
    std::size_t cache_capacity = 100000;
    throttle_limits_t per_account{5, std::chrono::minutes(1), std::chrono::minutes(1), 100000};
    throttle_limits_t per_address{20, std::chrono::minutes(1), std::chrono::minutes(1), 100000};
    // Parameters of the dummy record checked for unknown names; match them
    // to the records the operator creates.
    password_hash_params_t dummy_params;
};

enum class auth_outcome_enum {
    OK,            // `account` holds the account
    INVALID,       // unknown name or wrong password
    THROTTLED,     // refused without checking: too many recent failures
    STORE_FAILED,  // the store could not be read; `error` says why
};

struct auth_result_t {
    auth_outcome_enum outcome = auth_outcome_enum::INVALID;
    account_t account;
    std::string error;
};

class authenticator_t {
public:
    using clock_t = std::chrono::steady_clock;

    explicit authenticator_t(const authenticator_options_t& options);
    authenticator_t(const authenticator_t&) = delete;
    authenticator_t& operator=(const authenticator_t&) = delete;

    // Checks `name` and `password` of a request from `peer_address`, with
    // `store` borrowed by the calling thread.
    auth_result_t authenticate(InterfaceStore& store, const std::string& name,
                               const std::string& password, const std::string& peer_address,
                               clock_t::time_point now);

    verification_cache_t& cache() { return m_cache; }

private:
    verification_cache_t m_cache;
    failure_throttle_t m_by_account;
    failure_throttle_t m_by_address;
    std::string m_dummy_record;
};

}  // namespace Core_Server
