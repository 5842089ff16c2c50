// Internal to the server: passwords at rest.
//
// A password is kept as a self-describing record
//     scrypt$ln=L,r=R,p=P$SALT$HASH
// where SALT (16 random bytes) and HASH (32 bytes) are lower-case hex and
// the cost parameters are those the hash was made with, so the defaults can
// be raised later without invalidating existing records. scrypt is the one
// of OpenSSL's key-derivation functions that is slow in memory as well as
// time. The defaults, N = 2^15, r = 8, p = 3, are among the settings current
// guidance gives for scrypt (the same work as N = 2^17, r = 8, p = 1 in a
// quarter of the memory): one check costs 32 MiB and a few hundred
// milliseconds. Records made with less work are made again on the next
// successful login (needs_rehash).
//
// All functions are thread-safe.
#pragma once

#include <string>
#include <string_view>

namespace Core_Server {

struct password_hash_params_t {
    int log2_n = 15;  // N = 2^log2_n
    int r = 8;
    int p = 3;
};

// Limits on parameters accepted from a stored record, so that a damaged or
// planted record cannot make one check take minutes or gigabytes.
inline constexpr int MAX_LOG2_N = 20;
inline constexpr int MAX_R = 32;
inline constexpr int MAX_P = 16;

// Makes a record of `password` with a fresh random salt. Returns false (and
// leaves `record` unchanged) only when the parameters are out of the limits
// above or OpenSSL fails.
[[nodiscard]] bool hash_password(std::string_view password, const password_hash_params_t& params,
                                 std::string& record);

// True when `password` matches `record`. The hashes are compared in constant
// time. A record that does not parse, or whose parameters are out of the
// limits, matches no password.
[[nodiscard]] bool verify_password(std::string_view password, std::string_view record);

// True when `record` parses as a record of this format.
bool is_password_record(std::string_view record);

// True when `record` was made with less work (N * r * p) than `params` ask
// for, or does not parse: it should be made again from the password.
bool needs_rehash(std::string_view record, const password_hash_params_t& params);

}  // namespace Core_Server
