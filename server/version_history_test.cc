#include "version_history.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <iostream>
#include <map>
#include <random>

#include "store_open.h"
#include "store_testing.h"

namespace Core_Server {
namespace {

using testing::backend_enum;
using testing::scratch_store_t;

// What the history of one account must be: its kept versions, oldest first,
// and the number the next version gets.
struct model_account_t {
    bool exists = true;
    std::vector<tree_version_t> kept;
    std::int32_t head() const { return kept.empty() ? 0 : kept.back().version; }
};

std::string describe(const tree_version_t& v) {
    return "version " + std::to_string(v.version) + " date \"" + v.date + "\" client \"" +
           v.client_type + "\" size " + std::to_string(v.size) + " tree of " +
           std::to_string(v.tree.size()) + " bytes";
}

void expect_same(const tree_version_t& a, const tree_version_t& b, const std::string& what) {
    EXPECT_EQ(a.version, b.version) << what;
    EXPECT_EQ(a.date, b.date) << what;
    EXPECT_EQ(a.client_type, b.client_type) << what;
    EXPECT_EQ(a.size, b.size) << what;
    EXPECT_TRUE(a.tree == b.tree) << what << ": " << describe(a) << " / " << describe(b);
}

// The same random run of commits (on the stored version, stale, ahead, with
// nothing stored, overwriting), conflicts, restores of kept and pruned
// versions, and accounts deleted and made again, on SQLite and on
// PostgreSQL, both checked step by step against each other and against the
// history a simple model of the rules gives. ZV_TEST_SEED repeats a run.
TEST(VersionHistory, BothStoresKeepTheSameHistoryAsTheRules) {
    scratch_store_t scratch[2] = {scratch_store_t(backend_enum::SQLITE),
                                  scratch_store_t(backend_enum::POSTGRESQL)};
    ZV_REQUIRE_STORE(scratch[1]);

    std::uint64_t seed = std::random_device()();
    if (const char* fixed = std::getenv("ZV_TEST_SEED")) seed = std::strtoull(fixed, nullptr, 10);
    std::cout << "VersionHistory seed: " << seed << " (ZV_TEST_SEED repeats it)" << std::endl;
    SCOPED_TRACE("seed " + std::to_string(seed));
    std::mt19937_64 random(seed);
    auto pick = [&](int n) { return static_cast<int>(random() % static_cast<unsigned>(n)); };

    store_options_t options;
    const int keeps[] = {1, 2, 3, 5};
    options.keep_versions = keeps[pick(4)];
    std::unique_ptr<InterfaceStore> store[2];
    for (int s = 0; s < 2; ++s) {
        const auto status = open_store(scratch[s].url(), options, store[s]);
        ASSERT_TRUE(status.ok()) << status.message;
    }

    const std::vector<std::string> names = {"ann", "bo", "cy"};
    std::map<std::string, model_account_t> model;
    // Each store's id of each name; an id of a deleted account stays usable,
    // as a request's would be.
    std::map<std::string, std::int64_t> ids[2];
    auto make_account = [&](const std::string& name) {
        for (int s = 0; s < 2; ++s) {
            ASSERT_TRUE(store[s]->add_account(name, "scrypt$" + name).ok());
            account_t account;
            ASSERT_TRUE(store[s]->find_account(name, account).ok());
            ids[s][name] = account.id;
        }
        model[name] = model_account_t();
    };
    for (const auto& name : names) make_account(name);

    auto random_tree = [&] {
        std::string tree(static_cast<std::size_t>(pick(3) == 0 ? 0 : pick(300)), '\0');
        for (auto& c : tree) c = static_cast<char>(random());
        return tree;
    };

    constexpr int kSteps = 300;
    for (int step = 0; step < kSteps; ++step) {
        const std::string name = names[pick(static_cast<int>(names.size()))];
        model_account_t& account = model[name];
        const std::string date = "2026-03-" + std::to_string(10 + step / 100) +
                                 " 00:00:" + std::to_string(10 + step % 50);
        const std::string where = "step " + std::to_string(step) + " on \"" + name + "\"";
        const int action = pick(10);
        if (action == 0) {
            // The account goes, and sometimes comes back new.
            if (account.exists) {
                for (int s = 0; s < 2; ++s) ASSERT_TRUE(store[s]->delete_account(name).ok());
                account.exists = false;
                account.kept.clear();
            } else {
                // SQLite may give a new account the id of the last one
                // deleted, so the ids of every deleted account are retired
                // here by making them all again.
                for (const auto& gone : names) {
                    if (!model[gone].exists) make_account(gone);
                }
            }
            continue;
        }
        if (action <= 6) {
            commit_request_t request;
            const int kind = pick(5);
            request.baseline = kind == 0   ? account.head()
                               : kind == 1 ? account.head() - 1 - pick(3)
                               : kind == 2 ? account.head() + 1
                                           : account.head();
            request.overwrite = kind == 3;
            request.client_type = "client " + std::to_string(pick(3));
            request.tree = random_tree();
            request.date = date;

            // The rules, told simply.
            commit_result_t expected;
            store_status_t::code_enum expected_code = store_status_t::OK;
            if (!account.exists) {
                expected_code = store_status_t::NOT_FOUND;
            } else if (!account.kept.empty() && !request.overwrite &&
                       request.baseline != account.head()) {
                expected.outcome = commit_outcome_enum::CONFLICT;
                expected.version = account.kept.back();
            } else {
                expected.outcome = commit_outcome_enum::COMMITTED;
                expected.version = {account.head() + 1, date, request.client_type,
                                    static_cast<std::int64_t>(request.tree.size()), request.tree};
            }

            commit_result_t result[2];
            store_status_t status[2];
            for (int s = 0; s < 2; ++s) {
                commit_request_t copy = request;
                copy.account_id = ids[s][name];
                status[s] = store[s]->commit(std::move(copy), result[s]);
            }
            ASSERT_EQ(status[0].code, expected_code) << where << ": " << status[0].message;
            ASSERT_EQ(status[1].code, expected_code) << where << ": " << status[1].message;
            EXPECT_EQ(status[0].message, status[1].message) << where;
            if (expected_code == store_status_t::OK) {
                for (int s = 0; s < 2; ++s) {
                    EXPECT_EQ(result[s].outcome, expected.outcome) << where;
                    expect_same(result[s].version, expected.version, where);
                }
                if (expected.outcome == commit_outcome_enum::COMMITTED) {
                    account.kept.push_back(expected.version);
                }
            }
        } else {
            // A kept version, one pruned or never made, or none at all.
            const std::int32_t version = account.head() - pick(options.keep_versions + 2) + 1;
            store_status_t::code_enum expected_code = store_status_t::OK;
            std::string expected_message;
            tree_version_t expected;
            auto kept = std::find_if(account.kept.begin(), account.kept.end(),
                                     [&](const tree_version_t& v) { return v.version == version; });
            if (!account.exists) {
                expected_code = store_status_t::NOT_FOUND;
                expected_message = "no such account";
            } else if (kept == account.kept.end()) {
                expected_code = store_status_t::NOT_FOUND;
                expected_message = "version " + std::to_string(version) + " is not kept";
            } else {
                expected = {account.head() + 1, date, kept->client_type, kept->size, kept->tree};
            }

            tree_version_t restored[2];
            store_status_t status[2];
            for (int s = 0; s < 2; ++s) {
                status[s] = store[s]->restore(ids[s][name], version, date, restored[s]);
            }
            const std::string what = where + ", restoring version " + std::to_string(version);
            ASSERT_EQ(status[0].code, expected_code) << what << ": " << status[0].message;
            ASSERT_EQ(status[1].code, expected_code) << what << ": " << status[1].message;
            EXPECT_EQ(status[0].message, expected_message) << what;
            EXPECT_EQ(status[1].message, expected_message) << what;
            if (expected_code == store_status_t::OK) {
                for (int s = 0; s < 2; ++s) expect_same(restored[s], expected, what);
                account.kept.push_back(expected);
            }
        }
        // Pruning: only the newest keep_versions remain.
        if (account.kept.size() > static_cast<std::size_t>(options.keep_versions)) {
            account.kept.erase(account.kept.begin());
        }

        // Every account's whole history, on both stores, is the model's.
        for (const auto& other : names) {
            const model_account_t& m = model[other];
            for (int s = 0; s < 2; ++s) {
                const std::string what =
                    where + ", then \"" + other + "\" on " + store[s]->describe();
                std::vector<tree_version_t> listed;
                ASSERT_TRUE(store[s]->list_versions(ids[s][other], listed).ok()) << what;
                ASSERT_EQ(listed.size(), m.kept.size()) << what;
                for (std::size_t i = 0; i < listed.size(); ++i) {
                    const tree_version_t& want = m.kept[m.kept.size() - 1 - i];
                    tree_version_t full;
                    ASSERT_TRUE(store[s]->get_version(ids[s][other], listed[i].version, full).ok())
                        << what;
                    expect_same(full, want, what);
                    EXPECT_EQ(listed[i].size, want.size) << what;
                    EXPECT_EQ(listed[i].tree, "") << what;
                }
                tree_version_t latest;
                const auto status = store[s]->latest_version(ids[s][other], true, latest);
                if (m.kept.empty()) {
                    EXPECT_EQ(status.code, store_status_t::NOT_FOUND) << what;
                } else {
                    ASSERT_TRUE(status.ok()) << what << ": " << status.message;
                    expect_same(latest, m.kept.back(), what);
                }
            }
        }
        if (::testing::Test::HasFailure()) break;
    }
}

}  // namespace
}  // namespace Core_Server
