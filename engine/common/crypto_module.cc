#include "common/crypto_module.h"

namespace Core_Common {

void Crypto::initialize() {}

void Crypto::uninitialize() {}

}  // namespace Core_Common
