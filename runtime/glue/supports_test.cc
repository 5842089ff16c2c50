#include "glue/supports.h"

#include <gtest/gtest.h>

#include "xpcom/ns_factory.h"
#include "xpcom/ns_observer.h"

namespace {

constexpr nsIID kIidUnknown = ns_id_literal("{0a0b0c0d-1111-2222-3333-444455556666}");

int g_destroyed = 0;

// Two interfaces on one count. The destructor takes and drops a reference
// to the object, as one that hands itself to a call on the way out does.
class two_interfaces final : public zv_glue::supports<two_interfaces, nsIFactory, nsIObserver> {
public:
    nsresult CreateInstance(nsISupports* /*outer*/, const nsIID& /*iid*/, void** result) override {
        *result = nullptr;
        return NS_ERROR_NOT_IMPLEMENTED;
    }
    nsresult LockFactory(bool /*lock*/) override { return NS_OK; }
    nsresult Observe(nsISupports* /*subject*/, const char* /*topic*/,
                     const char16_t* /*data*/) override {
        return NS_OK;
    }

private:
    friend supports;
    ~two_interfaces() {
        nsIObserver* self = this;
        self->AddRef();
        self->Release();
        ++g_destroyed;
    }
};

TEST(Supports, AnswersEveryInterfaceAndDeletesOnceAtZero) {
    auto* object = new two_interfaces();
    nsIFactory* factory = object;
    nsIObserver* observer = object;
    ASSERT_NE(static_cast<void*>(factory), static_cast<void*>(observer));
    EXPECT_EQ(factory->AddRef(), 1u);

    // Each interface from the other, and nsISupports as the first one.
    void* result = nullptr;
    EXPECT_EQ(factory->QueryInterface(NS_IOBSERVER_IID, &result), NS_OK);
    EXPECT_EQ(result, static_cast<void*>(observer));
    EXPECT_EQ(observer->QueryInterface(NS_IFACTORY_IID, &result), NS_OK);
    EXPECT_EQ(result, static_cast<void*>(factory));
    EXPECT_EQ(observer->QueryInterface(NS_ISUPPORTS_IID, &result), NS_OK);
    EXPECT_EQ(result, static_cast<void*>(factory));

    // Refusals add no reference.
    result = &result;
    EXPECT_EQ(observer->QueryInterface(kIidUnknown, &result), NS_NOINTERFACE);
    EXPECT_EQ(result, nullptr);
    EXPECT_EQ(factory->QueryInterface(NS_IFACTORY_IID, nullptr), NS_ERROR_NULL_POINTER);

    EXPECT_EQ(observer->Release(), 3u);
    EXPECT_EQ(factory->Release(), 2u);
    EXPECT_EQ(observer->Release(), 1u);
    EXPECT_EQ(g_destroyed, 0);
    EXPECT_EQ(factory->Release(), 0u);
    EXPECT_EQ(g_destroyed, 1);
}

}  // namespace
