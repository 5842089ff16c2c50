#include "common/crypto_module.h"

#include <gtest/gtest.h>

#include "common/crypto_service.h"

namespace Core_Common {
namespace {

TEST(CryptoModule, InitializeCreatesAndUninitializeDestroysTheWorkingObject) {
    Crypto module;
    crypto_service_destroy();
    ASSERT_EQ(crypto_service(), nullptr);
    module.initialize();
    EXPECT_NE(crypto_service(), nullptr);
    module.uninitialize();
    EXPECT_EQ(crypto_service(), nullptr);
}

}  // namespace
}  // namespace Core_Common
