#include "authenticator.h"

#include <stdexcept>

namespace Core_Server {

authenticator_t::authenticator_t(const authenticator_options_t& options)
    : m_cache(options.cache_lifetime, options.cache_capacity),
      m_by_account(options.per_account),
      m_by_address(options.per_address) {
    if (!hash_password("", options.dummy_params, m_dummy_record)) {
        throw std::runtime_error("authenticator: cannot make the dummy password record");
    }
}

auth_result_t authenticator_t::authenticate(InterfaceStore& store, const std::string& name,
                                            const std::string& password,
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
    if (known && m_cache.contains(name, password, account.password_hash, now)) {
        result.outcome = auth_outcome_enum::OK;
        result.account = std::move(account);
        return result;
    }
    const std::string account_key = "user:" + name;
    const std::string address_key = "addr:" + peer_address;
    if (!m_by_account.allowed(account_key, now) || !m_by_address.allowed(address_key, now)) {
        result.outcome = auth_outcome_enum::THROTTLED;
        return result;
    }
    const bool match =
        verify_password(password, known ? account.password_hash : m_dummy_record) && known;
    if (!match) {
        m_by_account.record_failure(account_key, now);
        m_by_address.record_failure(address_key, now);
        result.outcome = auth_outcome_enum::INVALID;
        return result;
    }
    m_cache.remember(name, password, account.password_hash, now);
    m_by_account.record_success(account_key);
    result.outcome = auth_outcome_enum::OK;
    result.account = std::move(account);
    return result;
}

}  // namespace Core_Server
