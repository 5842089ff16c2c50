#include "store_open.h"

#include "postgres_store.h"
#include "sqlite_store.h"

namespace Core_Server {
namespace {

constexpr std::string_view SQLITE_PREFIX = "sqlite:";

bool is_postgres_url(const std::string& url) {
    return url.rfind("postgresql://", 0) == 0 || url.rfind("postgres://", 0) == 0;
}

}  // namespace

bool is_store_url(const std::string& url) {
    return (url.rfind(SQLITE_PREFIX, 0) == 0 && url.size() > SQLITE_PREFIX.size()) ||
           is_postgres_url(url);
}

store_status_t open_store(const std::string& url, const store_options_t& options,
                          std::unique_ptr<InterfaceStore>& out) {
    out.reset();
    if (options.keep_versions < 1) {
        return store_status_t::failed("cannot open store " + url +
                                      ": at least one version must be kept");
    }
    if (options.busy_timeout_ms < 0) {
        return store_status_t::failed("cannot open store " + url +
                                      ": the busy time-out cannot be negative");
    }
    if (is_postgres_url(url)) return open_postgres_store(url, options, out);
    if (url.rfind(SQLITE_PREFIX, 0) == 0) {
        return open_sqlite_store(url.substr(SQLITE_PREFIX.size()), options, out);
    }
    return store_status_t::failed("unknown store \"" + redact_postgres_url(url) +
                                  "\": expected sqlite:PATH or postgresql://...");
}

}  // namespace Core_Server
