#include "common/service_error.h"

#include <map>
#include <mutex>

namespace Core_Common {
namespace {

struct name_table_t {
    std::mutex lock;
    std::map<std::int32_t, std::string> names;
    std::map<std::string, std::int32_t, std::less<>> codes;

    name_table_t() {
        static constexpr const char* built_in[] = {
            "OK",
            "MAINTENANCE",
            "BUSY",
            "CONNECT_FAILED",
            "PROTOCOL_ERROR",
            "EXCEPTION",
            "NO_RECORD",
            "SITE_AUTH_FAILED",
            "USERNAME_INVALID",
            "USERNAME_EXISTED",
            "EMAIL_INVALID",
            "EMAIL_EXISTED",
            "PASSWORD_INVALID",
            "INVALID_PASSWORD",
            "INVALID_SECURITY_ANSWER",
            "INVALID_VERIFICATION_STRING",
            "GENERATED_RECENTLY",
            "INVALID_PASSWORD_NEED_VALIDATECODE",
            "NEED_VALIDATECODE",
            "OUT_OF_DATE",
            "INVALID_SESSION",
            "POLICY",
            "SUPERVISE",
            "ACCESS_DENIED",
        };
        std::int32_t code = 0;
        for (const char* name : built_in) {
            names[code] = name;
            codes[name] = code;
            ++code;
        }
    }
};

// Filled on first use, which static initialisation of this file makes
// happen before main().
name_table_t& table() {
    static name_table_t instance;
    return instance;
}
[[maybe_unused]] const name_table_t& g_fill_at_load = table();

}  // namespace

std::int32_t service_code_from_name(std::string_view name) {
    name_table_t& t = table();
    std::lock_guard<std::mutex> hold(t.lock);
    auto it = t.codes.find(name);
    return it == t.codes.end() ? SERVICE_PROTOCOL_ERROR : it->second;
}

std::string service_name_from_code(std::int32_t code) {
    name_table_t& t = table();
    std::lock_guard<std::mutex> hold(t.lock);
    auto it = t.names.find(code);
    return it == t.names.end() ? std::string() : it->second;
}

void add_service_name(std::int32_t code, std::string_view name) {
    name_table_t& t = table();
    std::lock_guard<std::mutex> hold(t.lock);
    t.names[code] = std::string(name);
    t.codes[std::string(name)] = code;
}

}  // namespace Core_Common
