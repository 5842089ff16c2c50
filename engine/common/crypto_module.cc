#include "common/crypto_module.h"

#include "common/crypto_service.h"

namespace Core_Common {

void Crypto::initialize() { crypto_service_create(); }

void Crypto::uninitialize() { crypto_service_destroy(); }

}  // namespace Core_Common
