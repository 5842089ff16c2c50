#include "password_hash.h"

#include <gtest/gtest.h>

#include <string>

namespace Core_Server {
namespace {

const password_hash_params_t kCheap{10, 8, 1};

TEST(PasswordHash, RecordsVerifyOnlyTheirOwnPassword) {
    std::string record;
    ASSERT_TRUE(hash_password("correct horse", kCheap, record));
    EXPECT_TRUE(is_password_record(record));
    EXPECT_EQ(record.rfind("scrypt$ln=10,r=8,p=1$", 0), 0u) << record;
    EXPECT_EQ(record.find("correct horse"), std::string::npos);
    EXPECT_TRUE(verify_password("correct horse", record));
    EXPECT_FALSE(verify_password("correct horsf", record));
    EXPECT_FALSE(verify_password("", record));

    // A fresh salt every time: the same password never gives the same record.
    std::string again;
    ASSERT_TRUE(hash_password("correct horse", kCheap, again));
    EXPECT_NE(record, again);
    EXPECT_TRUE(verify_password("correct horse", again));
}

TEST(PasswordHash, DefaultParametersAreTheSlowOnesAndWeakerRecordsAreMadeAgain) {
    std::string record;
    ASSERT_TRUE(hash_password("pw", password_hash_params_t{}, record));
    EXPECT_EQ(record.rfind("scrypt$ln=15,r=8,p=3$", 0), 0u) << record;
    EXPECT_TRUE(verify_password("pw", record));
    EXPECT_FALSE(needs_rehash(record, password_hash_params_t{}));
    // The old defaults, and anything with less work, are made again; more
    // work, in whatever shape, is kept.
    std::string old_record;
    ASSERT_TRUE(hash_password("pw", password_hash_params_t{10, 8, 1}, old_record));
    const password_hash_params_t defaults{};
    EXPECT_TRUE(needs_rehash(old_record, defaults));
    EXPECT_TRUE(needs_rehash("scrypt$ln=15,r=8,p=1$00$" + std::string(64, '0'), defaults));
    EXPECT_FALSE(needs_rehash("scrypt$ln=17,r=8,p=1$00$" + std::string(64, '0'), defaults));
    EXPECT_TRUE(needs_rehash("not a record", defaults));
}

// RFC 7914, section 12: scrypt("password", "NaCl", N=1024, r=8, p=16).
TEST(PasswordHash, MatchesThePublishedScryptVector) {
    const std::string record =
        "scrypt$ln=10,r=8,p=16$4e61436c$"
        "fdbabe1c9d3472007856e7190d01e9fe7c6ad7cbc8237830e77376634b373162"
        "2eaf30d92e22a3886ff109279d9830dac727afb94a83ee6d8360cbdfa2cc0640";
    EXPECT_TRUE(verify_password("password", record));
    EXPECT_FALSE(verify_password("Password", record));
}

TEST(PasswordHash, DamagedOrExcessiveRecordsMatchNothing) {
    std::string record;
    ASSERT_TRUE(hash_password("pw", kCheap, record));
    std::string flipped = record;
    flipped.back() = flipped.back() == '0' ? '1' : '0';
    EXPECT_FALSE(verify_password("pw", flipped));

    for (const std::string& bad : {
             std::string(),
             std::string("pw"),
             std::string("scrypt$"),
             std::string("pbkdf2$ln=10,r=8,p=1$00$") + std::string(64, '0'),
             std::string("scrypt$ln=10,r=8$00$") + std::string(64, '0'),
             std::string("scrypt$ln=10,r=8,p=1,x=2$00$") + std::string(64, '0'),
             std::string("scrypt$ln=10,r=8,p=1$$") + std::string(64, '0'),
             std::string("scrypt$ln=10,r=8,p=1$0g$") + std::string(64, '0'),
             std::string("scrypt$ln=10,r=8,p=1$00$abc"),
             std::string("scrypt$ln=10,r=8,p=1$00$") + std::string(130, '0'),
             // A planted record asking for 2^40 iterations or terabytes.
             std::string("scrypt$ln=40,r=8,p=1$00$") + std::string(64, '0'),
             std::string("scrypt$ln=10,r=100000,p=1$00$") + std::string(64, '0'),
             std::string("scrypt$ln=-1,r=8,p=1$00$") + std::string(64, '0'),
         }) {
        EXPECT_FALSE(is_password_record(bad)) << bad;
        EXPECT_FALSE(verify_password("pw", bad)) << bad;
    }
    std::string unchanged = "old";
    EXPECT_FALSE(hash_password("pw", password_hash_params_t{25, 8, 1}, unchanged));
    EXPECT_EQ(unchanged, "old");
}

}  // namespace
}  // namespace Core_Server
