// Test support (test programs only): fresh store locations on both backends.
//
// SQLite stores live in a new temporary directory; PostgreSQL stores in a new
// schema of the cluster named by ZV_TEST_POSTGRES_URL (scripts/with-postgres
// starts one), chosen through the connection's search_path, so tests running
// at the same time never see each other's tables. Both are removed when the
// scratch_store_t goes.
#pragma once

#include <libpq-fe.h>
#include <sqlite3.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <random>
#include <stdexcept>
#include <string>

#include "platform/temp_dir_testing.h"

namespace Core_Server::testing {

enum class backend_enum { SQLITE, POSTGRESQL };

inline std::string backend_name(backend_enum b) {
    return b == backend_enum::SQLITE ? "SQLite" : "PostgreSQL";
}

inline const char* postgres_test_url() {
    const char* url = std::getenv("ZV_TEST_POSTGRES_URL");
    return url && *url ? url : nullptr;
}

using temp_dir_t = Core_Platform::testing::temp_dir_t;

class scratch_store_t {
public:
    explicit scratch_store_t(backend_enum backend) : m_backend(backend) {
        if (backend == backend_enum::SQLITE) {
            m_dir = std::make_unique<temp_dir_t>();
            m_url = "sqlite:" + (m_dir->path() / "store.db").string();
            return;
        }
        const char* base = postgres_test_url();
        if (!base) return;
        static std::atomic<int> counter{0};
        std::random_device random;
        m_schema = "zv_test_" + std::to_string(getpid()) + "_" + std::to_string(counter++) + "_" +
                   std::to_string(random() % 1000000);
        run_admin(base, "CREATE SCHEMA " + m_schema);
        const std::string b = base;
        m_url = b + (b.find('?') == std::string::npos ? "?" : "&") + "options=-csearch_path%3D" +
                m_schema;
    }
    scratch_store_t(const scratch_store_t&) = delete;
    scratch_store_t& operator=(const scratch_store_t&) = delete;
    ~scratch_store_t() {
        if (!m_schema.empty()) {
            try {
                run_admin(postgres_test_url(), "DROP SCHEMA " + m_schema + " CASCADE");
            } catch (...) {
            }
        }
    }

    // False when the backend is PostgreSQL and no test cluster is named.
    bool available() const { return !m_url.empty(); }
    const std::string& url() const { return m_url; }

    // Runs `sql` directly on the store's database, bypassing the store
    // (used to damage or inspect it). Throws on failure.
    void execute(const std::string& sql) const {
        if (m_backend == backend_enum::POSTGRESQL) {
            run_admin(m_url.c_str(), sql);
            return;
        }
        sqlite3* db = nullptr;
        const std::string path = m_url.substr(7);
        if (sqlite3_open(path.c_str(), &db) != SQLITE_OK) {
            sqlite3_close(db);
            throw std::runtime_error("cannot open " + path);
        }
        char* message = nullptr;
        const int rc = sqlite3_exec(db, sql.c_str(), nullptr, nullptr, &message);
        const std::string text = message ? message : "";
        sqlite3_free(message);
        sqlite3_close(db);
        if (rc != SQLITE_OK) throw std::runtime_error(sql + ": " + text);
    }

private:
    static void run_admin(const char* url, const std::string& sql) {
        PGconn* conn = PQconnectdb(url);
        if (PQstatus(conn) != CONNECTION_OK) {
            const std::string text = PQerrorMessage(conn);
            PQfinish(conn);
            throw std::runtime_error(std::string("cannot connect to ") + url + ": " + text);
        }
        PQsetNoticeProcessor(
            conn, [](void*, const char*) {}, nullptr);
        PGresult* res = PQexec(conn, sql.c_str());
        const bool ok = PQresultStatus(res) == PGRES_COMMAND_OK;
        const std::string text = PQresultErrorMessage(res);
        PQclear(res);
        PQfinish(conn);
        if (!ok) throw std::runtime_error(sql + ": " + text);
    }

    backend_enum m_backend;
    std::unique_ptr<temp_dir_t> m_dir;
    std::string m_schema;
    std::string m_url;
};

}  // namespace Core_Server::testing

// Skips the current test, loudly, when `scratch` cannot be had.
#define ZV_REQUIRE_STORE(scratch)                                                          \
    do {                                                                                   \
        if (!(scratch).available()) {                                                      \
            GTEST_SKIP() << "PostgreSQL not tested: ZV_TEST_POSTGRES_URL is not set (run " \
                            "the tests through scripts/with-postgres, as ctest does)";     \
        }                                                                                  \
    } while (0)
