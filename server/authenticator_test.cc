#include "authenticator.h"

#include <gtest/gtest.h>

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
        m_options.dummy_params = kCheap;
        m_options.cache_lifetime = 60s;
        m_options.per_account = throttle_limits_t{3, 60s, 30s, 1000};
        m_options.per_address = throttle_limits_t{5, 60s, 30s, 1000};
    }

    static constexpr password_hash_params_t kCheap{10, 8, 1};
    scratch_store_t m_scratch{GetParam()};
    std::unique_ptr<InterfaceStore> m_store;
    authenticator_options_t m_options;
    const clock_type::time_point m_t0 = clock_type::time_point() + 1h;
};

TEST_P(AuthenticatorTest, AcceptsTheRightPasswordAndNothingElse) {
    authenticator_t auth(m_options);
    auto r = auth.authenticate(*m_store, "bob", "secret", "10.0.0.1", m_t0);
    EXPECT_EQ(r.outcome, auth_outcome_enum::OK);
    EXPECT_EQ(r.account.name, "bob");
    EXPECT_GT(r.account.id, 0);
    EXPECT_EQ(auth.authenticate(*m_store, "bob", "Secret", "10.0.0.1", m_t0).outcome,
              auth_outcome_enum::INVALID);
    EXPECT_EQ(auth.authenticate(*m_store, "nobody", "secret", "10.0.0.1", m_t0).outcome,
              auth_outcome_enum::INVALID);
    EXPECT_EQ(auth.authenticate(*m_store, "eve", "secret", "10.0.0.1", m_t0).outcome,
              auth_outcome_enum::INVALID);
}

TEST_P(AuthenticatorTest, RemembersSuccessesUntilThePasswordChanges) {
    authenticator_t auth(m_options);
    ASSERT_EQ(auth.authenticate(*m_store, "bob", "secret", "a", m_t0).outcome,
              auth_outcome_enum::OK);
    EXPECT_EQ(auth.cache().size(), 1u);
    ASSERT_EQ(auth.authenticate(*m_store, "bob", "secret", "a", m_t0 + 1s).outcome,
              auth_outcome_enum::OK);
    EXPECT_EQ(auth.cache().size(), 1u);
    // The operator changes the password: the remembered check no longer
    // applies, even within its lifetime.
    std::string record;
    ASSERT_TRUE(hash_password("new", kCheap, record));
    ASSERT_TRUE(m_store->set_password_hash("bob", record).ok());
    EXPECT_EQ(auth.authenticate(*m_store, "bob", "secret", "a", m_t0 + 2s).outcome,
              auth_outcome_enum::INVALID);
    EXPECT_EQ(auth.authenticate(*m_store, "bob", "new", "a", m_t0 + 2s).outcome,
              auth_outcome_enum::OK);
    // A deleted account is gone at once.
    ASSERT_TRUE(m_store->delete_account("bob").ok());
    EXPECT_EQ(auth.authenticate(*m_store, "bob", "new", "a", m_t0 + 3s).outcome,
              auth_outcome_enum::INVALID);
}

TEST_P(AuthenticatorTest, ThrottlesGuessesPerAccountAndPerAddress) {
    authenticator_t auth(m_options);
    // bob's own client syncs before the attack.
    ASSERT_EQ(auth.authenticate(*m_store, "bob", "secret", "home", m_t0).outcome,
              auth_outcome_enum::OK);
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(auth.authenticate(*m_store, "bob", "guess", "attacker", m_t0 + 1s).outcome,
                  auth_outcome_enum::INVALID);
    }
    // The account is locked for new checks, even with the right password...
    EXPECT_EQ(auth.authenticate(*m_store, "bob", "secret", "new-device", m_t0 + 2s).outcome,
              auth_outcome_enum::OK)
        << "a remembered check passes during a lock-out";
    EXPECT_EQ(auth.authenticate(*m_store, "bob", "guess2", "elsewhere", m_t0 + 2s).outcome,
              auth_outcome_enum::THROTTLED);
    // ...until the lock-out ends.
    EXPECT_EQ(auth.authenticate(*m_store, "bob", "guess3", "elsewhere", m_t0 + 32s).outcome,
              auth_outcome_enum::INVALID);

    // The attacker's address is throttled across accounts after its fifth
    // failure, unknown names included.
    EXPECT_EQ(auth.authenticate(*m_store, "eve", "x", "attacker", m_t0 + 3s).outcome,
              auth_outcome_enum::INVALID);
    EXPECT_EQ(auth.authenticate(*m_store, "nobody", "x", "attacker", m_t0 + 3s).outcome,
              auth_outcome_enum::INVALID);
    EXPECT_EQ(auth.authenticate(*m_store, "eve", "other", "attacker", m_t0 + 3s).outcome,
              auth_outcome_enum::THROTTLED);
    EXPECT_EQ(auth.authenticate(*m_store, "eve", "other", "friend", m_t0 + 3s).outcome,
              auth_outcome_enum::OK);
}

TEST_P(AuthenticatorTest, ReportsAStoreThatCannotBeRead) {
    authenticator_t auth(m_options);
    m_scratch.execute("DROP TABLE tree_versions");
    m_scratch.execute("DROP TABLE accounts");
    const auto r = auth.authenticate(*m_store, "bob", "secret", "a", m_t0);
    EXPECT_EQ(r.outcome, auth_outcome_enum::STORE_FAILED);
    EXPECT_NE(r.error.find("find account"), std::string::npos) << r.error;
}

INSTANTIATE_TEST_SUITE_P(Backends, AuthenticatorTest,
                         ::testing::Values(backend_enum::SQLITE, backend_enum::POSTGRESQL),
                         [](const auto& info) { return testing::backend_name(info.param); });

}  // namespace
}  // namespace Core_Server
