#include "common/crypto_service.h"

#include <gtest/gtest.h>

namespace Core_Common {
namespace {

TEST(CryptoService, CreateReplaceAndDestroy) {
    EXPECT_EQ(crypto_service(), nullptr);
    crypto_service_create();
    crypto_service_t* first = crypto_service();
    EXPECT_NE(first, nullptr);
    crypto_service_create();
    EXPECT_NE(crypto_service(), nullptr);
    crypto_service_destroy();
    EXPECT_EQ(crypto_service(), nullptr);
    crypto_service_destroy();  // nothing to destroy
    EXPECT_EQ(crypto_service(), nullptr);
}

}  // namespace
}  // namespace Core_Common
