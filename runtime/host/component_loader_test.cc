#include "host/component_loader.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "testing/test_greeter.h"
#include "xpcom/ns_category_manager.h"
#include "xpcom/ns_com_ptr.h"
#include "xpcom/ns_component_manager.h"
#include "xpcom/ns_factory.h"
#include "xpcom/ns_memory.h"
#include "xpcom/ns_observer.h"
#include "xpcom/ns_observer_service.h"
#include "xpcom/ns_service_manager.h"
#include "xpcom/ns_string.h"
#include "xpcom/runtime_host.h"

namespace {

std::string component_path(const char* name) {
    return std::string(ZV_TEST_COMPONENT_DIR) + "/lib" + name + ".so";
}

const std::string kGreeter = component_path("zorvane_test_component");

class recording_observer final : public nsIObserver {
public:
    nsresult QueryInterface(const nsIID& iid, void** result) override {
        if (iid.Equals(NS_IOBSERVER_IID) || iid.Equals(NS_ISUPPORTS_IID)) {
            AddRef();
            *result = static_cast<nsIObserver*>(this);
            return NS_OK;
        }
        *result = nullptr;
        return NS_NOINTERFACE;
    }
    nsrefcnt AddRef() override { return ++m_refs; }
    nsrefcnt Release() override { return --m_refs; }  // owned by the test
    nsresult Observe(nsISupports* subject, const char* topic, const char16_t* data) override {
        m_subjects.push_back(subject);
        m_topics.push_back(topic);
        m_data.push_back(data != nullptr ? data : u"");
        return NS_OK;
    }

    nsrefcnt m_refs = 0;
    std::vector<nsISupports*> m_subjects;
    std::vector<std::string> m_topics;
    std::vector<std::u16string> m_data;
};

class ComponentLoaderTest : public ::testing::Test {
protected:
    void start(std::uint32_t flags = ZV_RUNTIME_DEFAULT) {
        ASSERT_EQ(zv_runtime_init(flags), NS_OK);
    }
    void TearDown() override {
        if (zv_runtime_running()) {
            EXPECT_EQ(zv_runtime_shutdown(), NS_OK);
        }
    }

    nsCOMPtr<ITestGreeter> create_greeter() {
        nsCOMPtr<ITestGreeter> greeter;
        EXPECT_EQ(zv_host::create_component_instance(ZV_TEST_GREETER_CONTRACTID,
                                                     ZV_ITESTGREETER_IID, greeter.receive_void()),
                  NS_OK);
        return greeter;
    }
};

TEST_F(ComponentLoaderTest, LoadsRegistersAndCreatesByContract) {
    start();
    std::string error;
    ASSERT_EQ(zv_host::load_component(kGreeter, &error), NS_OK) << error;
    nsCOMPtr<ITestGreeter> greeter = create_greeter();
    ASSERT_TRUE(greeter);

    nsString name(u"W\u00f6rld \U0001F600");
    nsString greeting;
    ASSERT_EQ(greeter->Greet(name, greeting), NS_OK);
    EXPECT_EQ(greeting.view(), u"Hello, W\u00f6rld \U0001F600!");

    // Its category entry was registered through the category manager.
    nsCOMPtr<nsIServiceManager> services;
    ASSERT_EQ(NS_GetServiceManager(services.receive()), NS_OK);
    nsCOMPtr<nsICategoryManager> categories;
    ASSERT_EQ(services->GetServiceByContractID(NS_CATEGORYMANAGER_CONTRACTID,
                                               NS_ICATEGORYMANAGER_IID, categories.receive_void()),
              NS_OK);
    char* value = nullptr;
    ASSERT_EQ(categories->GetCategoryEntry(ZV_TEST_CATEGORY, ZV_TEST_CATEGORY_ENTRY, &value),
              NS_OK);
    EXPECT_STREQ(value, ZV_TEST_GREETER_CONTRACTID);
    NS_Free(value);
}

TEST_F(ComponentLoaderTest, ObjectsFollowTheReferenceRules) {
    start();
    ASSERT_EQ(zv_host::load_component(kGreeter), NS_OK);
    nsCOMPtr<ITestGreeter> greeter = create_greeter();
    ASSERT_TRUE(greeter);
    std::int32_t live = 0;
    ASSERT_EQ(greeter->GetLiveCount(&live), NS_OK);
    EXPECT_EQ(live, 1);

    nsCOMPtr<nsISupports> root;
    ASSERT_EQ(greeter->QueryInterface(NS_ISUPPORTS_IID, root.receive_void()), NS_OK);
    nsCOMPtr<ITestGreeter> again;
    ASSERT_EQ(root->QueryInterface(ZV_ITESTGREETER_IID, again.receive_void()), NS_OK);
    EXPECT_EQ(again.get(), greeter.get());
    void* none = reinterpret_cast<void*>(0x1);
    EXPECT_EQ(greeter->QueryInterface(NS_IOBSERVER_IID, &none), NS_NOINTERFACE);
    EXPECT_EQ(none, nullptr);

    nsCOMPtr<ITestGreeter> second = create_greeter();
    ASSERT_EQ(second->GetLiveCount(&live), NS_OK);
    EXPECT_EQ(live, 2);
    greeter.reset();
    root.reset();
    again.reset();
    ASSERT_EQ(second->GetLiveCount(&live), NS_OK);
    EXPECT_EQ(live, 1);
}

TEST_F(ComponentLoaderTest, FactoryRefusesAggregation) {
    start();
    ASSERT_EQ(zv_host::load_component(kGreeter), NS_OK);
    nsCOMPtr<nsIComponentManager> manager;
    ASSERT_EQ(NS_GetComponentManager(manager.receive()), NS_OK);
    nsCOMPtr<nsIFactory> factory;
    ASSERT_EQ(manager->GetClassObjectByContractID(ZV_TEST_GREETER_CONTRACTID, NS_IFACTORY_IID,
                                                  factory.receive_void()),
              NS_OK);
    nsCOMPtr<ITestGreeter> outer = create_greeter();
    void* result = reinterpret_cast<void*>(0x1);
    EXPECT_EQ(factory->CreateInstance(outer.get(), NS_ISUPPORTS_IID, &result), 0x80040110u);
    EXPECT_EQ(result, nullptr);
    EXPECT_EQ(zv_host::create_component_instance("@zorvane.test/none;1", NS_ISUPPORTS_IID, &result),
              NS_ERROR_FACTORY_NOT_REGISTERED);
    EXPECT_EQ(result, nullptr);
}

TEST_F(ComponentLoaderTest, ComponentNotifiesObservers) {
    start();
    ASSERT_EQ(zv_host::load_component(kGreeter), NS_OK);
    recording_observer observer;
    nsCOMPtr<nsIServiceManager> services;
    ASSERT_EQ(NS_GetServiceManager(services.receive()), NS_OK);
    nsCOMPtr<nsIObserverService> observers;
    ASSERT_EQ(services->GetServiceByContractID(NS_OBSERVERSERVICE_CONTRACTID,
                                               NS_IOBSERVERSERVICE_IID, observers.receive_void()),
              NS_OK);
    ASSERT_EQ(observers->AddObserver(&observer, "zorvane_test_topic", false), NS_OK);

    nsCOMPtr<ITestGreeter> greeter = create_greeter();
    bool delivered = false;
    nsString data(u"OK");
    ASSERT_EQ(greeter->Announce("zorvane_test_topic", data, &delivered), NS_OK);
    EXPECT_TRUE(delivered);
    ASSERT_EQ(observer.m_topics.size(), 1u);
    EXPECT_EQ(observer.m_topics[0], "zorvane_test_topic");
    EXPECT_EQ(observer.m_data[0], u"OK");
    nsCOMPtr<nsISupports> root;
    ASSERT_EQ(greeter->QueryInterface(NS_ISUPPORTS_IID, root.receive_void()), NS_OK);
    EXPECT_EQ(observer.m_subjects[0], root.get());

    ASSERT_EQ(greeter->Announce("another_topic", data, &delivered), NS_OK);
    EXPECT_EQ(observer.m_topics.size(), 1u);
    ASSERT_EQ(observers->RemoveObserver(&observer, "zorvane_test_topic"), NS_OK);
    EXPECT_EQ(observer.m_refs, 0u);
}

TEST_F(ComponentLoaderTest, MissingObserverServiceSkipsTheNotification) {
    start(ZV_RUNTIME_NO_OBSERVER_SERVICE);
    ASSERT_EQ(zv_host::load_component(kGreeter), NS_OK);
    nsCOMPtr<ITestGreeter> greeter = create_greeter();
    bool delivered = true;
    nsString data(u"OK");
    EXPECT_EQ(greeter->Announce("zorvane_test_topic", data, &delivered), NS_OK);
    EXPECT_FALSE(delivered);
}

TEST_F(ComponentLoaderTest, NotificationAfterShutdownIsSkipped) {
    start();
    ASSERT_EQ(zv_host::load_component(kGreeter), NS_OK);
    nsCOMPtr<ITestGreeter> greeter = create_greeter();
    ASSERT_EQ(zv_runtime_shutdown(), NS_OK);
    bool delivered = true;
    nsString data(u"late");
    EXPECT_EQ(greeter->Announce("zorvane_test_topic", data, &delivered), NS_OK);
    EXPECT_FALSE(delivered);
}

TEST_F(ComponentLoaderTest, LibraryWithOnlyTheModuleDescription) {
    start();
    std::string error;
    ASSERT_EQ(zv_host::load_component(component_path("zorvane_test_component_record"), &error),
              NS_OK)
        << error;
    nsCOMPtr<ITestGreeter> greeter = create_greeter();
    ASSERT_TRUE(greeter);
    nsString name(u"record");
    nsString greeting;
    ASSERT_EQ(greeter->Greet(name, greeting), NS_OK);
    EXPECT_EQ(greeting.view(), u"Hello, record!");
}

TEST_F(ComponentLoaderTest, RefusesWhatItCannotUse) {
    std::string error;
    EXPECT_EQ(zv_host::load_component(kGreeter, &error), NS_ERROR_NOT_INITIALIZED);
    EXPECT_NE(error.find(kGreeter), std::string::npos);
    start();

    const std::string missing = std::string(ZV_TEST_COMPONENT_DIR) + "/libnot_there.so";
    EXPECT_EQ(zv_host::load_component(missing, &error), NS_ERROR_FAILURE);
    EXPECT_NE(error.find(missing), std::string::npos) << error;
    EXPECT_NE(error.find("No such file"), std::string::npos) << error;

    EXPECT_EQ(zv_host::load_component(ZV_RUNTIME_LIBRARY, &error), NS_ERROR_FAILURE);
    EXPECT_NE(error.find("exports neither NSGetModule nor NSModule"), std::string::npos) << error;

    EXPECT_EQ(zv_host::load_component(component_path("zorvane_test_component_v8"), &error),
              NS_ERROR_FAILURE);
    EXPECT_NE(error.find("module version 8"), std::string::npos) << error;

    ASSERT_EQ(zv_host::load_component(kGreeter, &error), NS_OK);
    EXPECT_EQ(zv_host::load_component(kGreeter, &error), NS_ERROR_FACTORY_EXISTS);
}

}  // namespace
