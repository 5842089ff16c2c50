// Public engine surface: the working object of the Crypto module.
//
// The cryptographic operations (common/crypto.h, common/base64.h) are free
// functions that need no object; the Crypto module still owns one working
// object for the life of the framework, and creating it is where the
// libraries' process-wide tables are set up and the random source is proven
// to answer, so that a broken system fails at start-up rather than on the
// first save.
//
// The module's slots call:
//   initialize   -> crypto_service_create()
//   uninitialize -> crypto_service_destroy()
// and nothing in the other slots.
//
// Thread rule: create and destroy on the main thread, during start-up and
// shutdown; crypto_service() may be read from any thread.
#pragma once

namespace Core_Common {

class crypto_service_t {
public:
    // Initialises the cipher and digest library and the Base64 tables, and
    // draws one block from the random source. Throws std::runtime_error or
    // boost::system::system_error when one of them does not work.
    crypto_service_t();
    crypto_service_t(const crypto_service_t&) = delete;
    crypto_service_t& operator=(const crypto_service_t&) = delete;
};

// Creates the working object (replacing any earlier one). Throws as the
// constructor does; the previous object, if any, stays in place then.
void crypto_service_create();
// Destroys the working object; does nothing when there is none.
void crypto_service_destroy();
// The working object, or nullptr before creation and after destruction.
crypto_service_t* crypto_service();

}  // namespace Core_Common
