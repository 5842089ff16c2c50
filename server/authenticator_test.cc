#include "authenticator.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "store_open.h"
#include "store_testing.h"

namespace Core_Server {
namespace {

using namespace std::chrono_literals;
using clock_type = authenticator_t::clock_t;
using testing::backend_enum;
using testing::scratch_store_t;

class AuthenticatorTest : public ::testing::TestWithParam<backend_enum> {
protected:
    void SetUp() override {
        ZV_REQUIRE_STORE(m_scratch);
        ASSERT_TRUE(open_store(m_scratch.url(), store_options_t{}, m_store).ok());
        std::string record;
        ASSERT_TRUE(hash_password("secret", kCheap, record));
        ASSERT_TRUE(m_store->add_account("bob", record).ok());
        ASSERT_TRUE(hash_password("other", kCheap, record));
        ASSERT_TRUE(m_store->add_account("eve", record).ok());
        m_options.params = kCheap;
        m_options.unix_time = [this] { return m_unix_now; };
        m_options.cache_lifetime = 60s;
        m_options.per_account = throttle_limits_t{3, 60s, 30s, 1000};
        m_options.per_address = throttle_limits_t{5, 60s, 30s, 1000};
        m_options.per_peer = throttle_limits_t{3, 60s, 30s, 1000};
    }

    static constexpr password_hash_params_t kCheap{10, 8, 1};
    scratch_store_t m_scratch{GetParam()};
    std::unique_ptr<InterfaceStore> m_store;
    authenticator_options_t m_options;
    const clock_type::time_point m_t0 = clock_type::time_point() + 1h;
    std::int64_t m_unix_now = 1'800'000'000;
};

const std::string kPeer = "0123456789abcdef0123456789abcdef01234567";
const std::string kOtherPeer = "fedcba9876543210fedcba9876543210fedcba98";

TEST_P(AuthenticatorTest, AcceptsTheRightPasswordAndNothingElse) {
    authenticator_t auth(m_options);
    auto r = auth.authenticate(*m_store, "bob", "secret", kPeer, "10.0.0.1", m_t0);
    EXPECT_EQ(r.outcome, auth_outcome_enum::OK);
    EXPECT_EQ(r.account.name, "bob");
    EXPECT_GT(r.account.id, 0);
    EXPECT_EQ(auth.authenticate(*m_store, "bob", "Secret", kPeer, "10.0.0.1", m_t0).outcome,
              auth_outcome_enum::INVALID);
    EXPECT_EQ(auth.authenticate(*m_store, "nobody", "secret", kPeer, "10.0.0.1", m_t0).outcome,
              auth_outcome_enum::INVALID);
    EXPECT_EQ(auth.authenticate(*m_store, "eve", "secret", kPeer, "10.0.0.1", m_t0).outcome,
              auth_outcome_enum::INVALID);
}

TEST_P(AuthenticatorTest, RemembersSuccessesUntilThePasswordChanges) {
    authenticator_t auth(m_options);
    ASSERT_EQ(auth.authenticate(*m_store, "bob", "secret", kPeer, "a", m_t0).outcome,
              auth_outcome_enum::OK);
    EXPECT_EQ(auth.cache().size(), 1u);
    ASSERT_EQ(auth.authenticate(*m_store, "bob", "secret", kPeer, "a", m_t0 + 1s).outcome,
              auth_outcome_enum::OK);
    EXPECT_EQ(auth.cache().size(), 1u);
    // The operator changes the password: the remembered check no longer
    // applies, even within its lifetime.
    std::string record;
    ASSERT_TRUE(hash_password("new", kCheap, record));
    ASSERT_TRUE(m_store->set_password_hash("bob", record).ok());
    EXPECT_EQ(auth.authenticate(*m_store, "bob", "secret", kPeer, "a", m_t0 + 2s).outcome,
              auth_outcome_enum::INVALID);
    EXPECT_EQ(auth.authenticate(*m_store, "bob", "new", kPeer, "a", m_t0 + 2s).outcome,
              auth_outcome_enum::OK);
    // A deleted account is gone at once.
    ASSERT_TRUE(m_store->delete_account("bob").ok());
    EXPECT_EQ(auth.authenticate(*m_store, "bob", "new", kPeer, "a", m_t0 + 3s).outcome,
              auth_outcome_enum::INVALID);
}

TEST_P(AuthenticatorTest, ThrottlesGuessesPerAccountAndPerAddress) {
    authenticator_t auth(m_options);
    // bob's own client syncs before the attack.
    ASSERT_EQ(auth.authenticate(*m_store, "bob", "secret", kPeer, "home", m_t0).outcome,
              auth_outcome_enum::OK);
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(
            auth.authenticate(*m_store, "bob", "guess", kOtherPeer, "attacker", m_t0 + 1s).outcome,
            auth_outcome_enum::INVALID);
    }
    // The account is locked for new checks, even with the right password
    // and with its success remembered, except for bob's own client...
    EXPECT_EQ(auth.authenticate(*m_store, "bob", "secret", kPeer, "new-address", m_t0 + 2s).outcome,
              auth_outcome_enum::OK);
    const auto remembered =
        auth.authenticate(*m_store, "bob", "secret", kOtherPeer, "elsewhere", m_t0 + 2s);
    EXPECT_EQ(remembered.outcome, auth_outcome_enum::THROTTLED)
        << "the cache lets no client through a lock-out that the client does not escape";
    EXPECT_GT(remembered.hold.count(), 0);
    const auto refused =
        auth.authenticate(*m_store, "bob", "guess2", kOtherPeer, "elsewhere", m_t0 + 2s);
    EXPECT_EQ(refused.outcome, auth_outcome_enum::THROTTLED);
    // ...held as long as a check takes, so it does not show...
    EXPECT_GT(refused.hold.count(), 0);
    // ...until the lock-out ends.
    EXPECT_EQ(
        auth.authenticate(*m_store, "bob", "guess3", kOtherPeer, "elsewhere", m_t0 + 32s).outcome,
        auth_outcome_enum::INVALID);

    // The attacker's address is throttled across accounts after its fifth
    // failure, unknown names included.
    EXPECT_EQ(auth.authenticate(*m_store, "eve", "x", kPeer, "attacker", m_t0 + 3s).outcome,
              auth_outcome_enum::INVALID);
    EXPECT_EQ(auth.authenticate(*m_store, "nobody", "x", kPeer, "attacker", m_t0 + 3s).outcome,
              auth_outcome_enum::INVALID);
    EXPECT_EQ(auth.authenticate(*m_store, "eve", "other", kPeer, "attacker", m_t0 + 3s).outcome,
              auth_outcome_enum::THROTTLED);
    EXPECT_EQ(auth.authenticate(*m_store, "eve", "other", kPeer, "friend", m_t0 + 3s).outcome,
              auth_outcome_enum::OK);
    // Nor does a remembered success get through a throttled address, from
    // a known client or not.
    EXPECT_EQ(auth.authenticate(*m_store, "eve", "other", kPeer, "attacker", m_t0 + 4s).outcome,
              auth_outcome_enum::THROTTLED);
    EXPECT_EQ(auth.authenticate(*m_store, "bob", "secret", kPeer, "attacker", m_t0 + 4s).outcome,
              auth_outcome_enum::THROTTLED);
}

TEST_P(AuthenticatorTest, AKnownClientOutlivesTheLockoutOfItsAccount) {
    m_options.cache_lifetime = 1s;
    authenticator_t auth(m_options);
    // bob's laptop logged in three weeks ago (another server process).
    ASSERT_EQ(auth.authenticate(*m_store, "bob", "secret", kPeer, "home", m_t0).outcome,
              auth_outcome_enum::OK);
    authenticator_t restarted(m_options);
    m_unix_now += 21 * 24 * 3600;
    const auto t = m_t0 + 10s;
    // Wrong passwords from three addresses lock the account.
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(restarted
                      .authenticate(*m_store, "bob", "guess", kOtherPeer,
                                    "198.51.100." + std::to_string(i), t)
                      .outcome,
                  auth_outcome_enum::INVALID);
    }
    EXPECT_EQ(restarted.authenticate(*m_store, "bob", "secret", kOtherPeer, "office", t).outcome,
              auth_outcome_enum::THROTTLED);
    // The laptop gets in with the right password, a guess with its
    // identifier is checked (and counted against that pair alone)...
    EXPECT_EQ(restarted.authenticate(*m_store, "bob", "secret", kPeer, "hotel", t).outcome,
              auth_outcome_enum::OK);
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(restarted.authenticate(*m_store, "bob", "guess", kPeer, "cafe", t + 2s).outcome,
                  auth_outcome_enum::INVALID);
    }
    // ...until the pair has its own lock-out.
    EXPECT_EQ(restarted.authenticate(*m_store, "bob", "secret", kPeer, "hotel", t + 3s).outcome,
              auth_outcome_enum::THROTTLED);
    // A client last seen over 30 days ago is no longer spared.
    authenticator_t later(m_options);
    m_unix_now += 31 * 24 * 3600;
    for (int i = 0; i < 3; ++i) {
        ASSERT_EQ(later.authenticate(*m_store, "bob", "guess", kOtherPeer, "x", t).outcome,
                  auth_outcome_enum::INVALID);
    }
    EXPECT_EQ(later.authenticate(*m_store, "bob", "secret", kPeer, "hotel", t).outcome,
              auth_outcome_enum::THROTTLED);
}

TEST_P(AuthenticatorTest, SuccessesEraseNoHistoryAndAddressesCountBySlash64) {
    m_options.cache_lifetime = 0s;
    authenticator_t auth(m_options);
    auto t = m_t0;
    auto lock_out = [&](const std::string& address) {
        for (int i = 0; i < 3; ++i)
            auth.authenticate(*m_store, "bob", "guess", kOtherPeer, address, t);
    };
    // The first lock-out lasts 30 s; bob logging in between the attacker's
    // rounds does not reset the doubling: the second lasts 60 s.
    lock_out("a1");
    t += 30s;
    ASSERT_EQ(auth.authenticate(*m_store, "bob", "secret", kOtherPeer, "a2", t).outcome,
              auth_outcome_enum::OK);
    lock_out("a3");
    EXPECT_EQ(auth.authenticate(*m_store, "bob", "secret", kOtherPeer, "a4", t + 59s).outcome,
              auth_outcome_enum::THROTTLED);
    EXPECT_EQ(auth.authenticate(*m_store, "bob", "secret", kOtherPeer, "a4", t + 60s).outcome,
              auth_outcome_enum::OK);

    // Five failures anywhere in 2001:db8:1:2::/64 throttle that whole
    // network, and nothing outside it.
    t += 1h;
    for (int i = 0; i < 5; ++i) {
        auth.authenticate(*m_store, "nobody" + std::to_string(i), "x", kPeer,
                          "2001:db8:1:2::" + std::to_string(i + 1), t);
    }
    EXPECT_EQ(auth.authenticate(*m_store, "eve", "other", kPeer, "2001:db8:1:2:ffff::9", t).outcome,
              auth_outcome_enum::THROTTLED);
    EXPECT_EQ(auth.authenticate(*m_store, "eve", "other", kPeer, "2001:db8:1:3::1", t).outcome,
              auth_outcome_enum::OK);
}

TEST_P(AuthenticatorTest, AWeakerRecordIsMadeAgainOnTheNextLogin) {
    m_options.params = password_hash_params_t{11, 8, 1};
    authenticator_t auth(m_options);
    account_t before;
    ASSERT_TRUE(m_store->find_account("bob", before).ok());
    ASSERT_TRUE(needs_rehash(before.password_hash, m_options.params));
    EXPECT_EQ(auth.authenticate(*m_store, "bob", "wrong", kPeer, "a", m_t0).outcome,
              auth_outcome_enum::INVALID);
    account_t after;
    ASSERT_TRUE(m_store->find_account("bob", after).ok());
    EXPECT_EQ(after.password_hash, before.password_hash) << "only a right password makes it";
    ASSERT_EQ(auth.authenticate(*m_store, "bob", "secret", kPeer, "a", m_t0).outcome,
              auth_outcome_enum::OK);
    ASSERT_TRUE(m_store->find_account("bob", after).ok());
    EXPECT_EQ(after.password_hash.rfind("scrypt$ln=11,r=8,p=1$", 0), 0u) << after.password_hash;
    EXPECT_TRUE(verify_password("secret", after.password_hash));
    EXPECT_FALSE(needs_rehash(after.password_hash, m_options.params));
    // Remembered under the new record; an operator's change meanwhile wins.
    EXPECT_EQ(auth.authenticate(*m_store, "bob", "secret", kPeer, "a", m_t0 + 1s).outcome,
              auth_outcome_enum::OK);
    EXPECT_FALSE(m_store->replace_password_hash("bob", before.password_hash, "x").ok());
}

TEST_P(AuthenticatorTest, PasswordChecksBeyondTheBoundAreBusyNotQueued) {
    // One check at a time and one waiting: of six logins that arrive
    // together, the first is checked, the next waits for it, and the others
    // are answered BUSY at once. A slow record keeps the first check running
    // while the others arrive.
    std::string record;
    ASSERT_TRUE(hash_password("slow", password_hash_params_t{16, 8, 1}, record));
    ASSERT_TRUE(m_store->add_account("sam", record).ok());
    m_options.max_checks = 1;
    m_options.max_waiting_checks = 1;
    authenticator_t auth(m_options);
    constexpr int kLogins = 6;
    std::vector<std::unique_ptr<InterfaceStore>> stores(kLogins);
    for (auto& store : stores) ASSERT_TRUE(open_store(m_scratch.url(), {}, store).ok());
    std::vector<auth_outcome_enum> outcomes(kLogins, auth_outcome_enum::STORE_FAILED);
    std::atomic<int> ready{0};
    std::vector<std::thread> threads;
    for (int i = 0; i < kLogins; ++i) {
        threads.emplace_back([&, i] {
            ++ready;
            while (ready.load() < kLogins) std::this_thread::yield();
            outcomes[i] = auth.authenticate(*stores[i], "sam", "slow", kPeer,
                                            "10.0.0." + std::to_string(i), m_t0)
                              .outcome;
        });
    }
    for (auto& t : threads) t.join();
    const auto count = [&](auth_outcome_enum o) {
        return std::count(outcomes.begin(), outcomes.end(), o);
    };
    EXPECT_GE(count(auth_outcome_enum::OK), 2) << "the checked one and the one that waited";
    EXPECT_GE(count(auth_outcome_enum::BUSY), 1);
    EXPECT_EQ(count(auth_outcome_enum::OK) + count(auth_outcome_enum::BUSY), kLogins);
    // A BUSY answer is no failure: nothing was throttled, and the next login
    // goes through.
    EXPECT_EQ(auth.authenticate(*m_store, "sam", "slow", kPeer, "10.0.0.9", m_t0 + 1s).outcome,
              auth_outcome_enum::OK);
}

TEST_P(AuthenticatorTest, ReportsAStoreThatCannotBeRead) {
    authenticator_t auth(m_options);
    m_scratch.execute("DROP TABLE tree_versions");
    m_scratch.execute("DROP TABLE peer_logins");
    m_scratch.execute("DROP TABLE accounts");
    const auto r = auth.authenticate(*m_store, "bob", "secret", kPeer, "a", m_t0);
    EXPECT_EQ(r.outcome, auth_outcome_enum::STORE_FAILED);
    EXPECT_NE(r.error.find("find account"), std::string::npos) << r.error;
}

INSTANTIATE_TEST_SUITE_P(Backends, AuthenticatorTest,
                         ::testing::Values(backend_enum::SQLITE, backend_enum::POSTGRESQL),
                         [](const auto& test) { return testing::backend_name(test.param); });

}  // namespace
}  // namespace Core_Server
