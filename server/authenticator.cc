#include "authenticator.h"

#include <stdexcept>

#include "peer_address.h"

namespace Core_Server {
namespace {

constexpr std::int64_t kDaySeconds = 24 * 60 * 60;

std::int64_t micros_since(authenticator_t::clock_t::time_point start) {
    return std::chrono::duration_cast<std::chrono::microseconds>(authenticator_t::clock_t::now() -
                                                                 start)
        .count();
}

}  // namespace

authenticator_t::authenticator_t(const authenticator_options_t& options)
    : m_options(options),
      m_cache(options.cache_lifetime, options.cache_capacity),
      m_by_account(options.per_account),
      m_by_peer(options.per_peer),
      m_by_address(options.per_address) {
    const auto start = clock_t::now();
    if (!hash_password("", options.params, m_dummy_record)) {
        throw std::runtime_error("authenticator: cannot make the dummy password record");
    }
    // Making a record costs what checking one costs: the first estimate.
    m_check_micros = micros_since(start);
}

std::int64_t authenticator_t::unix_now() const {
    if (m_options.unix_time) return m_options.unix_time();
    return std::chrono::duration_cast<std::chrono::seconds>(
               std::chrono::system_clock::now().time_since_epoch())
        .count();
}

bool authenticator_t::acquire_check() {
    std::unique_lock<std::mutex> lock(m_checks_mutex);
    if (m_checks_running >= m_options.max_checks) {
        if (m_checks_waiting >= m_options.max_waiting_checks) return false;
        ++m_checks_waiting;
        m_check_freed.wait(lock, [&] { return m_checks_running < m_options.max_checks; });
        --m_checks_waiting;
    }
    ++m_checks_running;
    return true;
}

void authenticator_t::release_check() {
    {
        std::lock_guard<std::mutex> lock(m_checks_mutex);
        --m_checks_running;
    }
    m_check_freed.notify_one();
}

void authenticator_t::note_login(InterfaceStore& store, const account_t& account,
                                 const std::string& peer_id, std::string& warning) {
    if (peer_id.empty()) return;
    const std::string key = std::to_string(account.id) + "/" + peer_id;
    const std::int64_t now = unix_now();
    {
        std::lock_guard<std::mutex> lock(m_logins_mutex);
        const auto it = m_logins.find(key);
        if (it != m_logins.end() && now - it->second < kDaySeconds) return;
    }
    const auto status =
        store.record_peer_login(account.id, peer_id, now, now - m_options.trusted_peer_age.count());
    if (status.code == store_status_t::FAILED) {
        warning = status.message;
        return;
    }
    std::lock_guard<std::mutex> lock(m_logins_mutex);
    if (m_logins.size() >= m_options.cache_capacity) m_logins.clear();
    m_logins[key] = now;
}

bool authenticator_t::trusted_peer(InterfaceStore& store, const account_t& account,
                                   const std::string& peer_id) {
    if (peer_id.empty()) return false;
    const std::int64_t since = unix_now() - m_options.trusted_peer_age.count();
    {
        std::lock_guard<std::mutex> lock(m_logins_mutex);
        const auto it = m_logins.find(std::to_string(account.id) + "/" + peer_id);
        if (it != m_logins.end() && it->second >= since) return true;
    }
    bool yes = false;
    return store.peer_logged_in_since(account.id, peer_id, since, yes).ok() && yes;
}

auth_result_t authenticator_t::authenticate(InterfaceStore& store, const std::string& name,
                                            const std::string& password, const std::string& peer_id,
                                            const std::string& peer_address,
                                            clock_t::time_point now) {
    auth_result_t result;
    account_t account;
    const auto status = store.find_account(name, account);
    if (status.code == store_status_t::FAILED) {
        result.outcome = auth_outcome_enum::STORE_FAILED;
        result.error = status.message;
        return result;
    }
    const bool known = status.ok();
    const std::string account_key = "user:" + name;
    const std::string peer_key = "peer:" + std::to_string(account.id) + "/" + peer_id;
    const std::string address_key = "addr:" + Core_Server::address_key(peer_address);
    bool refused = !m_by_address.allowed(address_key, now);
    if (!refused && !m_by_account.allowed(account_key, now)) {
        // The account is locked: its own known clients still get through,
        // each under a lock-out of its own.
        refused =
            !known || !m_by_peer.allowed(peer_key, now) || !trusted_peer(store, account, peer_id);
    }
    if (refused) {
        result.outcome = auth_outcome_enum::THROTTLED;
        result.hold = std::chrono::duration_cast<std::chrono::milliseconds>(
            std::chrono::microseconds(m_check_micros.load()));
        return result;
    }
    // A remembered success spares the check, never the throttle: otherwise a
    // guess would cost a digest while the user's own client keeps syncing.
    if (known && m_cache.contains(name, password, account.password_hash, now)) {
        note_login(store, account, peer_id, result.warning);
        result.outcome = auth_outcome_enum::OK;
        result.account = std::move(account);
        return result;
    }
    if (!acquire_check()) {
        result.outcome = auth_outcome_enum::BUSY;
        return result;
    }
    struct release_t {
        authenticator_t* self;
        ~release_t() { self->release_check(); }
    } release{this};
    const auto start = clock_t::now();
    const bool match =
        verify_password(password, known ? account.password_hash : m_dummy_record) && known;
    // Smoothed over the last eight or so checks.
    const std::int64_t took = micros_since(start);
    m_check_micros = (m_check_micros.load() * 7 + took) / 8;
    if (!match) {
        m_by_account.record_failure(account_key, now);
        if (known) m_by_peer.record_failure(peer_key, now);
        m_by_address.record_failure(address_key, now);
        result.outcome = auth_outcome_enum::INVALID;
        return result;
    }
    if (needs_rehash(account.password_hash, m_options.params)) {
        std::string fresh;
        if (hash_password(password, m_options.params, fresh)) {
            const auto replaced = store.replace_password_hash(name, account.password_hash, fresh);
            if (replaced.ok()) {
                account.password_hash = fresh;
            } else if (replaced.code == store_status_t::FAILED) {
                result.warning = replaced.message;
            }
        }
    }
    m_cache.remember(name, password, account.password_hash, now);
    note_login(store, account, peer_id, result.warning);
    result.outcome = auth_outcome_enum::OK;
    result.account = std::move(account);
    return result;
}

}  // namespace Core_Server
