#include "xpcom/runtime_host.h"

#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "xpcom/ns_category_manager.h"
#include "xpcom/ns_com_ptr.h"
#include "xpcom/ns_component_manager.h"
#include "xpcom/ns_component_registrar.h"
#include "xpcom/ns_factory.h"
#include "xpcom/ns_memory.h"
#include "xpcom/ns_observer.h"
#include "xpcom/ns_observer_service.h"
#include "xpcom/ns_service_manager.h"

namespace {

// Records every notification it receives; counts its own lifetime.
class recording_observer final : public nsIObserver {
public:
    struct call_t {
        nsISupports* subject;
        std::string topic;
        std::u16string data;
    };

    explicit recording_observer(std::vector<std::string>* order = nullptr, std::string name = {})
        : m_order(order), m_name(std::move(name)) {
        s_live.fetch_add(1);
    }

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
    nsrefcnt Release() override {
        const nsrefcnt n = --m_refs;
        if (n == 0) delete this;
        return n;
    }
    nsresult Observe(nsISupports* subject, const char* topic, const char16_t* data) override {
        m_calls.push_back(call_t{subject, topic, data != nullptr ? data : u""});
        if (m_order != nullptr) m_order->push_back(m_name);
        if (m_on_observe) m_on_observe();
        return NS_OK;
    }

    std::vector<call_t> m_calls;
    std::function<void()> m_on_observe;
    static inline std::atomic<int> s_live{0};

private:
    ~recording_observer() { s_live.fetch_sub(1); }

    std::atomic<nsrefcnt> m_refs{0};
    std::vector<std::string>* m_order;
    std::string m_name;
};

nsCOMPtr<nsIServiceManager> service_manager() {
    nsCOMPtr<nsIServiceManager> sm;
    EXPECT_EQ(NS_GetServiceManager(sm.receive()), NS_OK);
    return sm;
}

nsCOMPtr<nsIObserverService> observer_service() {
    nsCOMPtr<nsIObserverService> os;
    EXPECT_EQ(service_manager()->GetServiceByContractID(NS_OBSERVERSERVICE_CONTRACTID,
                                                        NS_IOBSERVERSERVICE_IID, os.receive_void()),
              NS_OK);
    return os;
}

class RuntimeTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_EQ(zv_runtime_init(), NS_OK); }
    void TearDown() override {
        if (zv_runtime_running()) {
            EXPECT_EQ(zv_runtime_shutdown(), NS_OK);
        }
    }
};

TEST(RuntimeLifecycle, ManagersExistOnlyWhileTheRuntimeRuns) {
    nsIServiceManager* sm = reinterpret_cast<nsIServiceManager*>(0x1);
    EXPECT_EQ(NS_GetServiceManager(&sm), NS_ERROR_NOT_INITIALIZED);
    EXPECT_EQ(sm, nullptr);
    EXPECT_EQ(zv_runtime_shutdown(), NS_ERROR_NOT_INITIALIZED);

    ASSERT_EQ(zv_runtime_init(), NS_OK);
    EXPECT_TRUE(zv_runtime_running());
    EXPECT_EQ(zv_runtime_init(), NS_ERROR_ALREADY_INITIALIZED);
    nsCOMPtr<nsIServiceManager> held = service_manager();
    ASSERT_TRUE(held);
    ASSERT_EQ(zv_runtime_shutdown(), NS_OK);

    // A manager held across the shut-down stays a valid object that refuses.
    nsCOMPtr<nsIObserverService> os;
    EXPECT_EQ(held->GetServiceByContractID(NS_OBSERVERSERVICE_CONTRACTID, NS_IOBSERVERSERVICE_IID,
                                           os.receive_void()),
              NS_ERROR_NOT_INITIALIZED);
    EXPECT_FALSE(os);
    EXPECT_EQ(NS_GetServiceManager(held.receive()), NS_ERROR_NOT_INITIALIZED);

    // It can be started again.
    ASSERT_EQ(zv_runtime_init(), NS_OK);
    EXPECT_TRUE(observer_service());
    EXPECT_EQ(zv_runtime_shutdown(), NS_OK);
}

TEST(RuntimeLifecycle, CanRunWithoutAnObserverService) {
    ASSERT_EQ(zv_runtime_init(ZV_RUNTIME_NO_OBSERVER_SERVICE), NS_OK);
    nsCOMPtr<nsIObserverService> os;
    EXPECT_EQ(service_manager()->GetServiceByContractID(NS_OBSERVERSERVICE_CONTRACTID,
                                                        NS_IOBSERVERSERVICE_IID, os.receive_void()),
              NS_ERROR_FACTORY_NOT_REGISTERED);
    EXPECT_FALSE(os);
    // The other services are there.
    nsCOMPtr<nsICategoryManager> cm;
    EXPECT_EQ(service_manager()->GetServiceByContractID(NS_CATEGORYMANAGER_CONTRACTID,
                                                        NS_ICATEGORYMANAGER_IID, cm.receive_void()),
              NS_OK);
    EXPECT_EQ(zv_runtime_shutdown(), NS_OK);
}

TEST_F(RuntimeTest, ServiceManagerIsAlsoComponentManagerAndRegistrar) {
    nsCOMPtr<nsIServiceManager> sm = service_manager();
    nsCOMPtr<nsIComponentManager> cm;
    nsCOMPtr<nsIComponentRegistrar> reg;
    EXPECT_EQ(sm->QueryInterface(NS_ICOMPONENTMANAGER_IID, cm.receive_void()), NS_OK);
    EXPECT_EQ(sm->QueryInterface(NS_ICOMPONENTREGISTRAR_IID, reg.receive_void()), NS_OK);
    nsCOMPtr<nsIComponentManager> direct;
    EXPECT_EQ(NS_GetComponentManager(direct.receive()), NS_OK);
    EXPECT_EQ(direct.get(), cm.get());
    nsCOMPtr<nsIComponentManager> by_contract;
    EXPECT_EQ(sm->GetServiceByContractID(NS_COMPONENTMANAGER_CONTRACTID, NS_ICOMPONENTMANAGER_IID,
                                         by_contract.receive_void()),
              NS_OK);
    EXPECT_EQ(by_contract.get(), cm.get());
    void* none = reinterpret_cast<void*>(0x1);
    EXPECT_EQ(sm->QueryInterface(NS_IOBSERVER_IID, &none), NS_NOINTERFACE);
    EXPECT_EQ(none, nullptr);
}

TEST_F(RuntimeTest, ObserversHearTheirTopicInRegistrationOrder) {
    std::vector<std::string> order;
    nsCOMPtr<recording_observer> first(new recording_observer(&order, "first"));
    nsCOMPtr<recording_observer> second(new recording_observer(&order, "second"));
    nsCOMPtr<recording_observer> everything(new recording_observer(&order, "everything"));
    nsCOMPtr<recording_observer> other(new recording_observer(&order, "other"));
    nsCOMPtr<nsIObserverService> os = observer_service();
    ASSERT_EQ(os->AddObserver(everything.get(), "*", false), NS_OK);
    ASSERT_EQ(os->AddObserver(first.get(), "topic", false), NS_OK);
    ASSERT_EQ(os->AddObserver(second.get(), "topic", true), NS_OK);
    ASSERT_EQ(os->AddObserver(first.get(), "topic", false), NS_OK);  // kept once
    ASSERT_EQ(os->AddObserver(other.get(), "other-topic", false), NS_OK);

    nsCOMPtr<recording_observer> subject(new recording_observer());
    ASSERT_EQ(os->NotifyObservers(subject.get(), "topic", u"data \u00e9"), NS_OK);
    EXPECT_EQ(order, (std::vector<std::string>{"first", "second", "everything"}));
    ASSERT_EQ(first->m_calls.size(), 1u);
    EXPECT_EQ(first->m_calls[0].subject, static_cast<nsISupports*>(subject.get()));
    EXPECT_EQ(first->m_calls[0].topic, "topic");
    EXPECT_EQ(first->m_calls[0].data, u"data \u00e9");
    EXPECT_TRUE(other->m_calls.empty());

    // No subject and no data are fine.
    ASSERT_EQ(os->NotifyObservers(nullptr, "other-topic", nullptr), NS_OK);
    ASSERT_EQ(other->m_calls.size(), 1u);
    EXPECT_EQ(other->m_calls[0].subject, nullptr);
    EXPECT_EQ(os->NotifyObservers(nullptr, nullptr, nullptr), NS_ERROR_INVALID_ARG);
}

TEST_F(RuntimeTest, RemovingObservers) {
    nsCOMPtr<nsIObserverService> os = observer_service();
    nsCOMPtr<recording_observer> a(new recording_observer());
    nsCOMPtr<recording_observer> b(new recording_observer());
    ASSERT_EQ(os->AddObserver(a.get(), "t", false), NS_OK);
    ASSERT_EQ(os->AddObserver(b.get(), "t", false), NS_OK);
    EXPECT_EQ(os->RemoveObserver(a.get(), "other"), NS_ERROR_FAILURE);
    EXPECT_EQ(os->AddObserver(nullptr, "t", false), NS_ERROR_INVALID_ARG);

    // An observer that removes another during a notification: the one
    // removed is still called this time (the list was taken), not later.
    bool removed = false;
    a->m_on_observe = [&] {
        if (!removed) {
            EXPECT_EQ(os->RemoveObserver(b.get(), "t"), NS_OK);
        }
        removed = true;
    };
    ASSERT_EQ(os->NotifyObservers(nullptr, "t", u"1"), NS_OK);
    EXPECT_EQ(b->m_calls.size(), 1u);
    ASSERT_EQ(os->NotifyObservers(nullptr, "t", u"2"), NS_OK);
    EXPECT_EQ(a->m_calls.size(), 2u);
    EXPECT_EQ(b->m_calls.size(), 1u);
}

TEST_F(RuntimeTest, ShutdownReleasesTheObservers) {
    const int before = recording_observer::s_live.load();
    {
        nsCOMPtr<nsIObserverService> os = observer_service();
        ASSERT_EQ(os->AddObserver(new recording_observer(), "t", false), NS_OK);
    }
    EXPECT_EQ(recording_observer::s_live.load(), before + 1);
    ASSERT_EQ(zv_runtime_shutdown(), NS_OK);
    EXPECT_EQ(recording_observer::s_live.load(), before);
}

TEST_F(RuntimeTest, NotificationsFromManyThreads) {
    nsCOMPtr<nsIObserverService> os = observer_service();
    // An observer with an atomic counter only: it runs on the notifying threads.
    struct counting final : nsIObserver {
        nsresult QueryInterface(const nsIID&, void** r) override {
            *r = nullptr;
            return NS_NOINTERFACE;
        }
        nsrefcnt AddRef() override { return ++refs; }
        nsrefcnt Release() override { return --refs; }  // lives on the stack
        nsresult Observe(nsISupports*, const char*, const char16_t*) override {
            ++calls;
            return NS_OK;
        }
        std::atomic<nsrefcnt> refs{0};
        std::atomic<int> calls{0};
    } counter;
    ASSERT_EQ(os->AddObserver(&counter, "t", false), NS_OK);
    std::vector<std::thread> threads;
    for (int i = 0; i < 4; ++i) {
        threads.emplace_back([&] {
            for (int k = 0; k < 250; ++k) os->NotifyObservers(nullptr, "t", u"");
        });
    }
    for (auto& t : threads) t.join();
    EXPECT_EQ(counter.calls.load(), 1000);
    ASSERT_EQ(os->RemoveObserver(&counter, "t"), NS_OK);
    EXPECT_EQ(counter.refs.load(), 0u);
}

TEST_F(RuntimeTest, CategoryEntries) {
    nsCOMPtr<nsICategoryManager> cm;
    ASSERT_EQ(service_manager()->GetServiceByContractID(NS_CATEGORYMANAGER_CONTRACTID,
                                                        NS_ICATEGORYMANAGER_IID, cm.receive_void()),
              NS_OK);
    char* value = nullptr;
    EXPECT_EQ(cm->GetCategoryEntry("cat", "e", &value), NS_ERROR_NOT_AVAILABLE);
    EXPECT_EQ(value, nullptr);
    ASSERT_EQ(cm->AddCategoryEntry("cat", "e", "v1", false, false, nullptr), NS_OK);
    EXPECT_EQ(cm->AddCategoryEntry("cat", "e", "v2", false, false, nullptr), NS_ERROR_INVALID_ARG);
    char* old = nullptr;
    ASSERT_EQ(cm->AddCategoryEntry("cat", "e", "v3", true, true, &old), NS_OK);
    ASSERT_NE(old, nullptr);
    EXPECT_STREQ(old, "v1");
    NS_Free(old);
    ASSERT_EQ(cm->GetCategoryEntry("cat", "e", &value), NS_OK);
    EXPECT_STREQ(value, "v3");
    NS_Free(value);
    ASSERT_EQ(cm->DeleteCategoryEntry("cat", "e", false), NS_OK);
    EXPECT_EQ(cm->GetCategoryEntry("cat", "e", &value), NS_ERROR_NOT_AVAILABLE);
    ASSERT_EQ(cm->AddCategoryEntry("cat", "x", "1", false, false, nullptr), NS_OK);
    ASSERT_EQ(cm->DeleteCategory("cat"), NS_OK);
    EXPECT_EQ(cm->GetCategoryEntry("cat", "x", &value), NS_ERROR_NOT_AVAILABLE);
}

// A factory of recording observers, counting its instances.
class observer_factory final : public nsIFactory {
public:
    nsresult QueryInterface(const nsIID& iid, void** result) override {
        if (iid.Equals(NS_IFACTORY_IID) || iid.Equals(NS_ISUPPORTS_IID)) {
            AddRef();
            *result = static_cast<nsIFactory*>(this);
            return NS_OK;
        }
        *result = nullptr;
        return NS_NOINTERFACE;
    }
    nsrefcnt AddRef() override { return ++m_refs; }
    nsrefcnt Release() override {
        const nsrefcnt n = --m_refs;
        if (n == 0) delete this;
        return n;
    }
    nsresult CreateInstance(nsISupports* outer, const nsIID& iid, void** result) override {
        *result = nullptr;
        if (outer != nullptr) return NS_ERROR_NO_AGGREGATION;
        ++m_created;
        nsCOMPtr<recording_observer> made(new recording_observer());
        return made->QueryInterface(iid, result);
    }
    nsresult LockFactory(bool) override { return NS_OK; }

    int m_created = 0;

private:
    ~observer_factory() = default;
    std::atomic<nsrefcnt> m_refs{0};
};

constexpr nsCID kTestCid = ns_id_literal("{23d8aa06-23a2-4569-a678-d0de93c1c8ab}");

TEST_F(RuntimeTest, RegisteredFactoriesServeInstancesAndServices) {
    nsCOMPtr<nsIComponentRegistrar> reg;
    ASSERT_EQ(service_manager()->QueryInterface(NS_ICOMPONENTREGISTRAR_IID, reg.receive_void()),
              NS_OK);
    nsCOMPtr<observer_factory> factory(new observer_factory());
    ASSERT_EQ(reg->RegisterFactory(kTestCid, "test", "@test/observer;1", factory.get()), NS_OK);
    EXPECT_EQ(reg->RegisterFactory(kTestCid, "test", nullptr, factory.get()),
              NS_ERROR_FACTORY_EXISTS);
    bool known = false;
    EXPECT_EQ(reg->IsContractIDRegistered("@test/observer;1", &known), NS_OK);
    EXPECT_TRUE(known);
    nsCID cid{};
    EXPECT_EQ(reg->ContractIDToCID("@test/observer;1", &cid), NS_OK);
    EXPECT_TRUE(cid.Equals(kTestCid));
    EXPECT_EQ(reg->ContractIDToCID("@test/none;1", &cid), NS_ERROR_FACTORY_NOT_REGISTERED);

    nsCOMPtr<nsIComponentManager> cm;
    ASSERT_EQ(NS_GetComponentManager(cm.receive()), NS_OK);
    nsCOMPtr<nsIObserver> a, b;
    ASSERT_EQ(cm->CreateInstanceByContractID("@test/observer;1", nullptr, NS_IOBSERVER_IID,
                                             a.receive_void()),
              NS_OK);
    ASSERT_EQ(cm->CreateInstance(kTestCid, nullptr, NS_IOBSERVER_IID, b.receive_void()), NS_OK);
    EXPECT_NE(a.get(), b.get());
    nsCOMPtr<nsIObserver> refused(a);
    EXPECT_EQ(cm->CreateInstance(kTestCid, a.get(), NS_IOBSERVER_IID, refused.receive_void()),
              NS_ERROR_NO_AGGREGATION);
    EXPECT_FALSE(refused);
    EXPECT_EQ(cm->CreateInstanceByContractID("@test/none;1", nullptr, NS_IOBSERVER_IID,
                                             refused.receive_void()),
              NS_ERROR_FACTORY_NOT_REGISTERED);

    // A service is created once and shared.
    bool exists = true;
    EXPECT_EQ(service_manager()->IsServiceInstantiated(kTestCid, NS_IOBSERVER_IID, &exists),
              NS_ERROR_NOT_AVAILABLE);
    EXPECT_FALSE(exists);
    nsCOMPtr<nsIObserver> s1, s2;
    ASSERT_EQ(service_manager()->GetService(kTestCid, NS_IOBSERVER_IID, s1.receive_void()), NS_OK);
    ASSERT_EQ(service_manager()->GetServiceByContractID("@test/observer;1", NS_IOBSERVER_IID,
                                                        s2.receive_void()),
              NS_OK);
    EXPECT_EQ(s1.get(), s2.get());
    EXPECT_EQ(service_manager()->IsServiceInstantiatedByContractID("@test/observer;1",
                                                                   NS_IOBSERVER_IID, &exists),
              NS_OK);
    EXPECT_TRUE(exists);
    EXPECT_EQ(factory->m_created, 3);  // a, b and the service; the refused one made none

    EXPECT_EQ(reg->UnregisterFactory(kTestCid, factory.get()), NS_OK);
    EXPECT_EQ(reg->IsContractIDRegistered("@test/observer;1", &known), NS_OK);
    EXPECT_FALSE(known);
}

}  // namespace
