// The test component: one class implementing ITestGreeter, published
// through a static module description and GenericModule.
//
// Build switches (compile definitions):
//   ZV_TEST_WITH_GET_MODULE   1: export NSGetModule besides NSModule.
//   ZV_TEST_MODULE_VERSION    the version written into the description.
#include <atomic>
#include <new>
#include <string>

#include "glue/generic_module.h"
#include "glue/module.h"
#include "glue/supports.h"
#include "testing/test_greeter.h"
#include "xpcom/export.h"
#include "xpcom/ns_com_ptr.h"
#include "xpcom/ns_observer_service.h"
#include "xpcom/ns_service_manager.h"

#ifndef ZV_TEST_WITH_GET_MODULE
#define ZV_TEST_WITH_GET_MODULE 1
#endif
#ifndef ZV_TEST_MODULE_VERSION
#define ZV_TEST_MODULE_VERSION 9
#endif

namespace {

std::atomic<std::int32_t> g_live{0};

class test_greeter final : public zv_glue::supports<test_greeter, ITestGreeter> {
public:
    test_greeter() { g_live.fetch_add(1); }

    nsresult Greet(const nsAString& name, nsAString& greeting) override {
        nsCStringContainer utf8;
        NS_CStringContainerInit(utf8);
        nsresult rv = NS_UTF16ToCString(name, NS_CSTRING_ENCODING_UTF8, utf8);
        if (NS_SUCCEEDED(rv)) {
            const char* data = nullptr;
            const std::uint32_t n = NS_CStringGetData(utf8, &data);
            const std::string text = "Hello, " + std::string(data, n) + "!";
            nsCStringContainer out;
            rv = NS_CStringContainerInit2(
                out, text.data(), static_cast<std::uint32_t>(text.size()),
                NS_CSTRING_CONTAINER_INIT_DEPEND | NS_CSTRING_CONTAINER_INIT_SUBSTRING);
            if (NS_SUCCEEDED(rv)) rv = NS_CStringToUTF16(out, NS_CSTRING_ENCODING_UTF8, greeting);
            NS_CStringContainerFinish(out);
        }
        NS_CStringContainerFinish(utf8);
        return rv;
    }

    nsresult Announce(const char* topic, const nsAString& data, bool* delivered) override {
        if (delivered == nullptr) return NS_ERROR_NULL_POINTER;
        *delivered = false;
        nsCOMPtr<nsIServiceManager> services;
        if (NS_FAILED(NS_GetServiceManager(services.receive()))) return NS_OK;
        nsCOMPtr<nsIObserverService> observers;
        if (NS_FAILED(services->GetServiceByContractID(NS_OBSERVERSERVICE_CONTRACTID,
                                                       NS_IOBSERVERSERVICE_IID,
                                                       observers.receive_void()))) {
            return NS_OK;  // a host without an observer service: skip
        }
        // A terminated copy: NotifyObservers takes a terminated text.
        nsStringContainer copy;
        const char16_t* text = nullptr;
        const std::uint32_t n = NS_StringGetData(data, &text);
        nsresult rv = NS_StringContainerInit2(copy, text, n);
        if (NS_SUCCEEDED(rv)) {
            NS_StringGetData(copy, &text);
            rv = observers->NotifyObservers(static_cast<ITestGreeter*>(this), topic, text);
            *delivered = NS_SUCCEEDED(rv);
        }
        NS_StringContainerFinish(copy);
        return rv;
    }

    nsresult GetLiveCount(std::int32_t* count) override {
        if (count == nullptr) return NS_ERROR_NULL_POINTER;
        *count = g_live.load();
        return NS_OK;
    }

private:
    friend supports;
    ~test_greeter() { g_live.fetch_sub(1); }
};

nsresult construct_greeter(nsISupports* outer, const nsIID& iid, void** result) {
    if (result == nullptr) return NS_ERROR_NULL_POINTER;
    *result = nullptr;
    if (outer != nullptr) return NS_ERROR_NO_AGGREGATION;
    test_greeter* greeter = new (std::nothrow) test_greeter();
    if (greeter == nullptr) return NS_ERROR_OUT_OF_MEMORY;
    greeter->AddRef();
    const nsresult rv = greeter->QueryInterface(iid, result);
    greeter->Release();
    return rv;
}

const mozilla::Module::CIDEntry kClasses[] = {
    {&ZV_TEST_GREETER_CID, false, nullptr, construct_greeter},
    {nullptr, false, nullptr, nullptr},
};
const mozilla::Module::ContractIDEntry kContracts[] = {
    {ZV_TEST_GREETER_CONTRACTID, &ZV_TEST_GREETER_CID},
    {nullptr, nullptr},
};
const mozilla::Module::CategoryEntry kCategories[] = {
    {ZV_TEST_CATEGORY, ZV_TEST_CATEGORY_ENTRY, ZV_TEST_GREETER_CONTRACTID},
    {nullptr, nullptr, nullptr},
};
const mozilla::Module kModule = {
    ZV_TEST_MODULE_VERSION, kClasses, kContracts, kCategories, nullptr, nullptr, nullptr,
};

}  // namespace

NS_COMPONENT_EXPORT const mozilla::Module* const NSModule = &kModule;

#if ZV_TEST_WITH_GET_MODULE
NS_COMPONENT_EXPORT nsresult NSGetModule(nsIComponentManager* /*manager*/, const char* /*location*/,
                                         nsIModule** result) {
    if (result == nullptr) return NS_ERROR_NULL_POINTER;
    nsIModule* module = new (std::nothrow) mozilla::GenericModule(&kModule);
    if (module == nullptr) return NS_ERROR_OUT_OF_MEMORY;
    module->AddRef();
    *result = module;
    return NS_OK;
}
#endif
