// Internal to the server: checking the user name and password of a request.
//
// One authenticator_t per server process, shared by every thread serving
// requests (thread-safe). It combines the stored password records
// (password_hash.h), the verification cache (verification_cache.h) and the
// throttle of failed attempts (failure_throttle.h), keyed by account name,
// by (account, client) pair and by peer address (an IPv6 address by its
// /64, peer_address.h):
//
//   1. the account is looked up in the store;
//   2. an address that the throttle refuses is refused without checking
//      anything, and so is a locked account, except for a client (its peer
//      identifier) that logged in to it within `trusted_peer_age`: such a
//      client only answers to the lock-out of its own pair, so an attacker
//      guessing a user's password does not lock that user's own clients out;
//   3. a name, password and record remembered by the cache pass at once; a
//      refusal of step 2 holds for them too, so the cache never lets a
//      guess through at less than the cost of a check;
//   4. otherwise the password is checked against the record (an unknown
//      name is checked against a dummy record, so both cost the same time),
//      at most `max_checks` at once: a request finding them busy waits
//      while fewer than `max_waiting_checks` others wait, else it is BUSY;
//      a failure counts against the name, the pair and the address, a
//      success against none (it erases nothing either);
//   5. a success records the pair as a known client and, when the stored
//      record was made with less work than `params` ask for, stores a new
//      record of the password made with them.
//
// The caller must answer INVALID and THROTTLED the same way on the wire, so
// that neither reveals whether the account exists or is locked; a THROTTLED
// result says how long to hold the answer so it takes as long as a check.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <unordered_map>

#include "failure_throttle.h"
#include "password_hash.h"
#include "store.h"
#include "verification_cache.h"

namespace Core_Server {

struct authenticator_options_t {
    std::chrono::milliseconds cache_lifetime = std::chrono::minutes(2);
    std::size_t cache_capacity = 100000;
    throttle_limits_t per_account{5, std::chrono::minutes(1), std::chrono::minutes(1), 100000};
    throttle_limits_t per_peer{5, std::chrono::minutes(1), std::chrono::minutes(1), 100000};
    throttle_limits_t per_address{20, std::chrono::minutes(1), std::chrono::minutes(1), 100000};
    std::chrono::seconds trusted_peer_age = std::chrono::hours(24 * 30);
    // Parameters of the records made here: the dummy record checked for
    // unknown names, and the new records of logins whose record was weaker.
    password_hash_params_t params;
    int max_checks = 2;
    int max_waiting_checks = 4;
    // Seconds since 1970, UTC, for the ages of known clients; the system
    // clock when empty.
    std::function<std::int64_t()> unix_time;
};

enum class auth_outcome_enum {
    OK,            // `account` holds the account
    INVALID,       // unknown name or wrong password
    THROTTLED,     // refused without checking: too many recent failures
    BUSY,          // refused without checking: too many checks under way
    STORE_FAILED,  // the store could not be read; `error` says why
};

struct auth_result_t {
    auth_outcome_enum outcome = auth_outcome_enum::INVALID;
    account_t account;
    std::string error;
    // THROTTLED: how long to hold the answer, as long as a check takes.
    std::chrono::milliseconds hold{0};
    // OK: something the operator may want to know (a new record that could
    // not be stored); empty otherwise.
    std::string warning;
};

class authenticator_t {
public:
    using clock_t = std::chrono::steady_clock;

    // Fails loudly (std::runtime_error) when the dummy record cannot be made.
    explicit authenticator_t(const authenticator_options_t& options);
    authenticator_t(const authenticator_t&) = delete;
    authenticator_t& operator=(const authenticator_t&) = delete;

    // Checks `name` and `password` of a request from the client `peer_id`
    // at `peer_address`, with `store` borrowed by the calling thread.
    auth_result_t authenticate(InterfaceStore& store, const std::string& name,
                               const std::string& password, const std::string& peer_id,
                               const std::string& peer_address, clock_t::time_point now);

    verification_cache_t& cache() { return m_cache; }

private:
    // Records a successful login of (account, peer) in the store, at most
    // once a day per pair and process; failures go to `warning`.
    void note_login(InterfaceStore& store, const account_t& account, const std::string& peer_id,
                    std::string& warning);
    // True when (account, peer) logged in within trusted_peer_age.
    bool trusted_peer(InterfaceStore& store, const account_t& account, const std::string& peer_id);
    std::int64_t unix_now() const;
    bool acquire_check();
    void release_check();

    const authenticator_options_t m_options;
    verification_cache_t m_cache;
    failure_throttle_t m_by_account;
    failure_throttle_t m_by_peer;
    failure_throttle_t m_by_address;
    std::string m_dummy_record;
    // How long a password check takes, smoothed, in microseconds.
    std::atomic<std::int64_t> m_check_micros{0};

    std::mutex m_checks_mutex;
    std::condition_variable m_check_freed;
    int m_checks_running = 0;
    int m_checks_waiting = 0;

    std::mutex m_logins_mutex;
    // "account id/peer id" -> when this process last stored that login.
    std::unordered_map<std::string, std::int64_t> m_logins;
};

}  // namespace Core_Server
