#include "password_hash.h"

#include <openssl/crypto.h>
#include <openssl/evp.h>
#include <openssl/rand.h>

#include <charconv>
#include <cstdint>

#include "platform/strings.h"

namespace Core_Server {
namespace {

constexpr std::string_view PREFIX = "scrypt$";
constexpr std::size_t SALT_BYTES = 16;
constexpr std::size_t HASH_BYTES = 32;

struct parsed_record_t {
    password_hash_params_t params;
    std::string salt;
    std::string hash;
};

bool params_in_limits(const password_hash_params_t& p) {
    return p.log2_n >= 1 && p.log2_n <= MAX_LOG2_N && p.r >= 1 && p.r <= MAX_R && p.p >= 1 &&
           p.p <= MAX_P;
}

// Reads "NAME=DIGITS" at the front of `text` and drops it.
bool take_param(std::string_view& text, std::string_view name, int& value) {
    if (text.substr(0, name.size()) != name || text.size() <= name.size() ||
        text[name.size()] != '=') {
        return false;
    }
    text.remove_prefix(name.size() + 1);
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (ec != std::errc() || end == text.data()) return false;
    text.remove_prefix(static_cast<std::size_t>(end - text.data()));
    return true;
}

bool parse_record(std::string_view record, parsed_record_t& out) {
    if (record.substr(0, PREFIX.size()) != PREFIX) return false;
    record.remove_prefix(PREFIX.size());
    const auto params_end = record.find('$');
    if (params_end == std::string_view::npos) return false;
    std::string_view params = record.substr(0, params_end);
    if (!take_param(params, "ln", out.params.log2_n) || params.substr(0, 1) != ",") return false;
    params.remove_prefix(1);
    if (!take_param(params, "r", out.params.r) || params.substr(0, 1) != ",") return false;
    params.remove_prefix(1);
    if (!take_param(params, "p", out.params.p) || !params.empty()) return false;
    record.remove_prefix(params_end + 1);
    const auto salt_end = record.find('$');
    if (salt_end == std::string_view::npos) return false;
    if (!Core_Platform::from_hex(record.substr(0, salt_end), out.salt)) return false;
    if (!Core_Platform::from_hex(record.substr(salt_end + 1), out.hash)) return false;
    return params_in_limits(out.params) && !out.salt.empty() && out.hash.size() >= 16 &&
           out.hash.size() <= 64;
}

bool derive(std::string_view password, const std::string& salt,
            const password_hash_params_t& params, std::size_t length, std::string& out) {
    const std::uint64_t n = std::uint64_t{1} << params.log2_n;
    const auto r = static_cast<std::uint64_t>(params.r);
    const auto p = static_cast<std::uint64_t>(params.p);
    // scrypt needs 128*r*(N + p + 2) bytes; leave room for OpenSSL's own.
    const std::uint64_t maxmem = 128 * r * (n + p + 2) + (std::uint64_t{1} << 20);
    std::string key(length, '\0');
    const int ok = EVP_PBE_scrypt(
        password.data(), password.size(), reinterpret_cast<const unsigned char*>(salt.data()),
        salt.size(), n, r, p, maxmem, reinterpret_cast<unsigned char*>(key.data()), key.size());
    if (ok != 1) return false;
    out = std::move(key);
    return true;
}

}  // namespace

bool hash_password(std::string_view password, const password_hash_params_t& params,
                   std::string& record) {
    if (!params_in_limits(params)) return false;
    std::string salt(SALT_BYTES, '\0');
    if (RAND_bytes(reinterpret_cast<unsigned char*>(salt.data()), static_cast<int>(salt.size())) !=
        1) {
        return false;
    }
    std::string hash;
    if (!derive(password, salt, params, HASH_BYTES, hash)) return false;
    record = std::string(PREFIX) + "ln=" + std::to_string(params.log2_n) +
             ",r=" + std::to_string(params.r) + ",p=" + std::to_string(params.p) + "$" +
             Core_Platform::to_hex(salt) + "$" + Core_Platform::to_hex(hash);
    return true;
}

bool verify_password(std::string_view password, std::string_view record) {
    parsed_record_t parsed;
    if (!parse_record(record, parsed)) return false;
    std::string hash;
    if (!derive(password, parsed.salt, parsed.params, parsed.hash.size(), hash)) return false;
    return CRYPTO_memcmp(hash.data(), parsed.hash.data(), hash.size()) == 0;
}

bool is_password_record(std::string_view record) {
    parsed_record_t parsed;
    return parse_record(record, parsed);
}

bool needs_rehash(std::string_view record, const password_hash_params_t& params) {
    parsed_record_t parsed;
    if (!parse_record(record, parsed)) return true;
    auto work = [](const password_hash_params_t& p) {
        return (std::uint64_t{1} << p.log2_n) * static_cast<std::uint64_t>(p.r) *
               static_cast<std::uint64_t>(p.p);
    };
    return work(parsed.params) < work(params);
}

}  // namespace Core_Server
