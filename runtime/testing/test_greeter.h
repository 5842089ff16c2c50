// Test surface: the interface of the test component, a shared library built
// only for the tests of the runtime and the host loader.
//
// The library exports NSModule and (unless built without it) NSGetModule.
// Its module lists one class (ZV_TEST_GREETER_CID), one contract identifier
// and one category entry.
#pragma once

#include <cstdint>

#include "xpcom/ns_isupports.h"
#include "xpcom/ns_string.h"

inline constexpr nsIID ZV_ITESTGREETER_IID =
    ns_id_literal("{9052ff2b-4305-4814-b292-4a88acbda5f9}");
inline constexpr nsCID ZV_TEST_GREETER_CID =
    ns_id_literal("{e7ef6eea-81fb-402a-b9d0-b67cd6f54680}");
inline constexpr const char* ZV_TEST_GREETER_CONTRACTID = "@zorvane.test/greeter;1";
inline constexpr const char* ZV_TEST_CATEGORY = "zorvane-test-category";
inline constexpr const char* ZV_TEST_CATEGORY_ENTRY = "greeter";

class ITestGreeter : public nsISupports {
public:
    static constexpr const nsIID& IID() { return ZV_ITESTGREETER_IID; }

    // Stores "Hello, <name>!" in `greeting` (through UTF-8 and back).
    virtual nsresult Greet(const nsAString& name, nsAString& greeting) = 0;
    // Notifies the observers of `topic` with this object as subject and
    // `data` as data. When the runtime has no observer service the
    // notification is skipped: *delivered is false and the result is still
    // NS_OK.
    virtual nsresult Announce(const char* topic, const nsAString& data, bool* delivered) = 0;
    // The number of greeter objects alive in the library.
    virtual nsresult GetLiveCount(std::int32_t* count) = 0;

protected:
    ~ITestGreeter() = default;
};
