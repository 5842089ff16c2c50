#include "glue/generic_module.h"

#include <gtest/gtest.h>

#include <string>

#include "glue/generic_factory.h"
#include "xpcom/ns_category_manager.h"
#include "xpcom/ns_com_ptr.h"
#include "xpcom/ns_component_manager.h"
#include "xpcom/ns_component_registrar.h"
#include "xpcom/ns_factory.h"
#include "xpcom/ns_memory.h"
#include "xpcom/ns_service_manager.h"
#include "xpcom/runtime_host.h"

namespace {

constexpr nsCID kCidA = ns_id_literal("{11111111-2222-3333-4444-555555555555}");
constexpr nsCID kCidB = ns_id_literal("{66666666-7777-8888-9999-aaaaaaaaaaaa}");
constexpr nsCID kCidUnknown = ns_id_literal("{bbbbbbbb-cccc-dddd-eeee-ffffffffffff}");
constexpr nsIID kIidThing = ns_id_literal("{01010101-0202-0303-0404-050505050505}");

// The one object the constructors below hand out: a static thing that
// answers kIidThing and nsISupports and records the last constructor call.
struct thing final : nsISupports {
    nsresult QueryInterface(const nsIID& iid, void** result) override {
        if (iid.Equals(kIidThing) || iid.Equals(NS_ISUPPORTS_IID)) {
            AddRef();
            *result = this;
            return NS_OK;
        }
        *result = nullptr;
        return NS_NOINTERFACE;
    }
    nsrefcnt AddRef() override { return ++refs; }
    nsrefcnt Release() override { return --refs; }
    nsrefcnt refs = 0;
};

thing g_thing;
nsISupports* g_last_outer = nullptr;
int g_ctor_calls = 0;
int g_load_calls = 0;
int g_unload_calls = 0;
nsresult g_load_result = NS_OK;

nsresult thing_ctor(nsISupports* outer, const nsIID& iid, void** result) {
    *result = nullptr;
    ++g_ctor_calls;
    g_last_outer = outer;
    if (outer != nullptr) return NS_ERROR_NO_AGGREGATION;
    return g_thing.QueryInterface(iid, result);
}

nsresult counting_load() {
    ++g_load_calls;
    return g_load_result;
}

void counting_unload() { ++g_unload_calls; }

nsresult factory_proc(const mozilla::Module&, const mozilla::Module::CIDEntry&,
                      nsIFactory** result) {
    nsIFactory* f = new mozilla::GenericFactory(thing_ctor);
    f->AddRef();
    *result = f;
    return NS_OK;
}

const mozilla::Module::CIDEntry kClasses[] = {
    {&kCidA, false, nullptr, thing_ctor},
    {&kCidB, true, factory_proc, nullptr},
    {nullptr, false, nullptr, nullptr},
};
const mozilla::Module::ContractIDEntry kContracts[] = {
    {"@test/a;1", &kCidA},
    {"@test/b;1", &kCidB},
    {nullptr, nullptr},
};
const mozilla::Module::CategoryEntry kCategories[] = {
    {"test-cat", "a", "@test/a;1"},
    {"test-cat", "b", "@test/b;1"},
    {nullptr, nullptr, nullptr},
};
const mozilla::Module kModule = {9,       kClasses,      kContracts,     kCategories,
                                 nullptr, counting_load, counting_unload};
const mozilla::Module kOldModule = {8, kClasses, kContracts, nullptr, nullptr, nullptr, nullptr};

class GenericModuleTest : public ::testing::Test {
protected:
    void SetUp() override {
        g_ctor_calls = g_load_calls = g_unload_calls = 0;
        g_load_result = NS_OK;
        g_last_outer = nullptr;
        ASSERT_EQ(zv_runtime_init(), NS_OK);
        ASSERT_EQ(NS_GetComponentManager(m_manager.receive()), NS_OK);
    }
    void TearDown() override {
        m_manager.reset();
        EXPECT_EQ(zv_runtime_shutdown(), NS_OK);
        EXPECT_EQ(g_thing.refs, 0u);
    }
    nsCOMPtr<nsIComponentManager> m_manager;
};

TEST(GenericFactory, CreateInstanceCallsTheConstructor) {
    g_ctor_calls = 0;
    nsCOMPtr<nsIFactory> factory(new mozilla::GenericFactory(thing_ctor));
    nsCOMPtr<nsISupports> made;
    ASSERT_EQ(factory->CreateInstance(nullptr, kIidThing, made.receive_void()), NS_OK);
    EXPECT_EQ(made.get(), static_cast<nsISupports*>(&g_thing));
    EXPECT_EQ(g_ctor_calls, 1);
    made.reset();

    nsISupports* outer = &g_thing;
    void* result = reinterpret_cast<void*>(0x1);
    EXPECT_EQ(factory->CreateInstance(outer, kIidThing, &result), NS_ERROR_NO_AGGREGATION);
    EXPECT_EQ(result, nullptr);
    EXPECT_EQ(g_last_outer, outer);
    EXPECT_EQ(factory->LockFactory(true), NS_OK);
    EXPECT_EQ(factory->LockFactory(false), NS_OK);

    nsCOMPtr<nsIFactory> same;
    EXPECT_EQ(factory->QueryInterface(NS_ISUPPORTS_IID, same.receive_void()), NS_OK);
    EXPECT_EQ(same.get(), factory.get());
    EXPECT_EQ(factory->QueryInterface(kIidThing, &result), NS_NOINTERFACE);
    EXPECT_EQ(g_thing.refs, 0u);
}

TEST_F(GenericModuleTest, GetClassObjectWrapsTheConstructor) {
    nsCOMPtr<nsIModule> module(new mozilla::GenericModule(&kModule));
    nsCOMPtr<nsIFactory> factory;
    ASSERT_EQ(
        module->GetClassObject(m_manager.get(), kCidA, NS_IFACTORY_IID, factory.receive_void()),
        NS_OK);
    nsCOMPtr<nsISupports> made;
    ASSERT_EQ(factory->CreateInstance(nullptr, kIidThing, made.receive_void()), NS_OK);
    EXPECT_EQ(g_ctor_calls, 1);
    // A class with its own factory procedure.
    nsCOMPtr<nsIFactory> other;
    ASSERT_EQ(module->GetClassObject(m_manager.get(), kCidB, NS_IFACTORY_IID, other.receive_void()),
              NS_OK);
    EXPECT_NE(other.get(), factory.get());
    void* none = reinterpret_cast<void*>(0x1);
    EXPECT_EQ(module->GetClassObject(m_manager.get(), kCidUnknown, NS_IFACTORY_IID, &none),
              NS_ERROR_FACTORY_NOT_REGISTERED);
    EXPECT_EQ(none, nullptr);
    // The load procedure ran once; unloading waits for the module to go.
    EXPECT_EQ(g_load_calls, 1);
    EXPECT_EQ(g_unload_calls, 0);
    module.reset();
    EXPECT_EQ(g_unload_calls, 1);
}

TEST_F(GenericModuleTest, AFailedLoadIsReportedAndNotUnloaded) {
    g_load_result = NS_ERROR_OUT_OF_MEMORY;
    {
        nsCOMPtr<nsIModule> module(new mozilla::GenericModule(&kModule));
        void* none = nullptr;
        EXPECT_EQ(module->GetClassObject(m_manager.get(), kCidA, NS_IFACTORY_IID, &none),
                  NS_ERROR_OUT_OF_MEMORY);
        EXPECT_EQ(module->GetClassObject(m_manager.get(), kCidA, NS_IFACTORY_IID, &none),
                  NS_ERROR_OUT_OF_MEMORY);
        EXPECT_EQ(g_load_calls, 1);
    }
    EXPECT_EQ(g_unload_calls, 0);
}

TEST_F(GenericModuleTest, RegisterSelfRegistersClassesContractsAndCategories) {
    nsCOMPtr<nsIModule> module(new mozilla::GenericModule(&kModule));
    ASSERT_EQ(zv_runtime_register_module(module.get(), "/test/location.so"), NS_OK);

    nsCOMPtr<nsIComponentRegistrar> reg;
    ASSERT_EQ(m_manager->QueryInterface(NS_ICOMPONENTREGISTRAR_IID, reg.receive_void()), NS_OK);
    bool known = false;
    EXPECT_EQ(reg->IsCIDRegistered(kCidA, &known), NS_OK);
    EXPECT_TRUE(known);
    nsCID cid{};
    ASSERT_EQ(reg->ContractIDToCID("@test/b;1", &cid), NS_OK);
    EXPECT_TRUE(cid.Equals(kCidB));

    nsCOMPtr<nsIServiceManager> services;
    ASSERT_EQ(NS_GetServiceManager(services.receive()), NS_OK);
    nsCOMPtr<nsICategoryManager> categories;
    ASSERT_EQ(services->GetServiceByContractID(NS_CATEGORYMANAGER_CONTRACTID,
                                               NS_ICATEGORYMANAGER_IID, categories.receive_void()),
              NS_OK);
    char* value = nullptr;
    ASSERT_EQ(categories->GetCategoryEntry("test-cat", "b", &value), NS_OK);
    EXPECT_STREQ(value, "@test/b;1");
    NS_Free(value);

    // Instances by contract identifier go through the module.
    nsCOMPtr<nsISupports> made;
    ASSERT_EQ(
        m_manager->CreateInstanceByContractID("@test/a;1", nullptr, kIidThing, made.receive_void()),
        NS_OK);
    EXPECT_EQ(made.get(), static_cast<nsISupports*>(&g_thing));

    EXPECT_EQ(zv_runtime_register_module(module.get(), "/test/location.so"),
              NS_ERROR_FACTORY_EXISTS);
}

TEST_F(GenericModuleTest, NeverUnloadsAndCannotUnregister) {
    nsCOMPtr<nsIModule> module(new mozilla::GenericModule(&kModule));
    bool can = true;
    EXPECT_EQ(module->CanUnload(m_manager.get(), &can), NS_OK);
    EXPECT_FALSE(can);
    EXPECT_EQ(module->UnregisterSelf(m_manager.get(), "/x", ""), NS_ERROR_NOT_IMPLEMENTED);
    nsCOMPtr<nsIModule> same;
    EXPECT_EQ(module->QueryInterface(NS_IMODULE_IID, same.receive_void()), NS_OK);
    EXPECT_EQ(same.get(), module.get());
}

TEST_F(GenericModuleTest, RefusesADescriptionOfAnotherVersion) {
    nsCOMPtr<nsIModule> module(new mozilla::GenericModule(&kOldModule));
    void* none = nullptr;
    EXPECT_EQ(module->GetClassObject(m_manager.get(), kCidA, NS_IFACTORY_IID, &none),
              NS_ERROR_FAILURE);
    EXPECT_EQ(module->RegisterSelf(m_manager.get(), "/x", "", ""), NS_ERROR_FAILURE);
    EXPECT_EQ(g_ctor_calls, 0);
}

}  // namespace
